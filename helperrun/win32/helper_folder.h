// The device helper's folder: new, made for the caller's kind of token alone,
// and held by the handle that created it until the helper has ended.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace helperrun {

// The helper's name in its folder.
constexpr char kHelperFile[] = "norza-device-helper.exe";

// Who may change the helper's folder, from the caller's token: an elevated
// caller's folder admits Administrators and SYSTEM only (owned by
// Administrators), since a process of the same user without elevation
// carries the same user SID; SYSTEM's admits SYSTEM and Administrators; any
// other caller's, its user only. The DACL is protected and inherited by what
// is created below it.
class HelperFolderSecurity {
 public:
  bool Build(PSID user, bool elevated);
  SECURITY_DESCRIPTOR* descriptor() { return &descriptor_; }
  PSID owner() const { return owner_; }
  // Whether the DACL names `sid`.
  bool Grants(PSID sid) const;
  // Whether a descriptor read back from a folder is this one's in effect:
  // protected, owned by this owner, and every entry that is not a denial
  // granting one of those named here (the platform may merge or reorder
  // entries, never add a grantee).
  bool Describes(PSECURITY_DESCRIPTOR read) const;

 private:
  PSID owner_ = nullptr;
  PSID granted_[2] = {};
  BYTE user_[SECURITY_MAX_SID_SIZE] = {};
  BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE acl_[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  SECURITY_DESCRIPTOR descriptor_{};
};

// A new folder that only the caller's kind of token can change, so nobody
// else can put another program in the helper's place between writing and
// starting it: an elevated caller's under the Windows temporary folder, any
// other caller's under its own. A name that exists already is never reused.
// The handle that created it holds it, from its creation to the folder's
// removal: while the helper runs, nobody can move it away and put another
// one, with a library of theirs, under its name.
class HelperFolder : platform::noncopyable {
 public:
  ~HelperFolder() { Remove(); }

  // False, with the thread's last error, when it cannot be made as asked.
  bool Create();
  const char* path() const { return path_; }
  // Lets go of the folder and removes it, which its file must have left by then.
  void Remove();

 private:
  char path_[MAX_PATH] = {};
  platform::unique_hfile hold_;  // keeps the folder from being renamed away
};

// Removes `path` with `remove` (DeleteFileA, RemoveDirectoryA), trying again
// for up to two seconds: the helper's image may stay mapped, and its file in
// the folder, for a moment after its process has ended.
void RemoveSoon(BOOL(WINAPI* remove)(LPCSTR), const char* path);

}  // namespace helperrun
