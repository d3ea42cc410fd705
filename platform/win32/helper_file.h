// The device helper as a file of its own: written out of this binary's
// resources into a new folder, started from there with the program's own
// rights, and removed again with its folder.
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/unique_handle.h"

namespace platform {

// ERROR_INVALID_IMAGE_HASH, which MinGW's headers lack: the helper's file
// differs from the image this binary carries, so it is not started.
constexpr DWORD kHelperChangedError = 577;

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

 private:
  PSID owner_ = nullptr;
  PSID granted_[2] = {};
  BYTE user_[SECURITY_MAX_SID_SIZE] = {};
  BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE acl_[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  SECURITY_DESCRIPTOR descriptor_{};
};

#ifdef NORZA_HELPER_FILE_TEST_HOOK
// Test builds only: runs where another process that may open the file could
// still write it, between writing the helper and holding it against writers.
extern void (*g_afterHelperWritten)(const char* path);
#endif

class HelperFile {
 public:
  HelperFile() = default;
  // Removes the file and its folder. The folder is held, by the handle that
  // created it, from its creation to here: while the helper runs, nobody can
  // move it away and put another one, with a library of theirs, under its name.
  ~HelperFile();
  HelperFile(const HelperFile&) = delete;
  HelperFile& operator=(const HelperFile&) = delete;

  // Makes the folder, writes the helper out, reads it back under a handle
  // that denies writers and deleters, and holds that handle until EndHold;
  // the file is never without an open handle of ours in between. False, with
  // the thread's last error, when it cannot be done, kHelperChangedError when
  // the file no longer holds the embedded image; nothing is left behind then.
  bool Place();
  // The helper's full path; valid after Place succeeded.
  const char* path() const { return path_; }
  // Once the helper's process has started: the file may be let go.
  void EndHold();

 private:
  char folder_[MAX_PATH] = {};
  char path_[MAX_PATH] = {};
  bool placed_ = false;
  HANDLE hold_ = INVALID_HANDLE_VALUE;
  HANDLE folderHold_ = INVALID_HANDLE_VALUE;  // keeps the folder from being renamed away
};

// Writes all of `bytes`; false, with the last error, when a write fails.
bool WriteAll(HANDLE file, const void* bytes, std::size_t size);

// The user of a token (a helper's folder of a caller without elevation
// admits it); a C-heap record, null when it cannot be read.
unique_malloc<TOKEN_USER> TokenUserOf(HANDLE token);

// Appends `value` as 16 lower-case hexadecimal digits: the random part of the
// names of the helper's folder and of the elevated run's answer pipe.
void AppendHex(char* out, unsigned long long value);

}  // namespace platform
