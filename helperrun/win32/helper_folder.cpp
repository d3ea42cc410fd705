#include "helperrun/win32/helper_folder.h"

#include "platform/pumping_wait.h"
#include "platform/random.h"
#include "platform/wow64.h"

#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace helperrun {

namespace {

// The user of a token: a C-heap record, null when it cannot be read.
platform::unique_malloc<TOKEN_USER> TokenUserOf(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  platform::unique_malloc<TOKEN_USER> user(static_cast<TOKEN_USER*>(std::malloc(size)));
  if (user && !::GetTokenInformation(token, TokenUser, user.get(), size, &size)) user.reset();
  return user;
}

// Appends `value` as 16 lower-case hexadecimal digits: the random part of
// the folder's name.
void AppendHex(char* out, unsigned long long value) {
  const char digits[] = "0123456789abcdef";
  char* end = out + std::strlen(out);
  for (int shift = 60; shift >= 0; shift -= 4) *end++ = digits[(value >> shift) & 0xF];
  *end = '\0';
}

// The caller's user and whether its token is elevated decide the folder's
// security and where it lies.
bool BuildFolderSecurity(HelperFolderSecurity* security, bool* elevated) {
  platform::unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  platform::unique_malloc<TOKEN_USER> user = TokenUserOf(token.get());
  TOKEN_ELEVATION elevation{};
  DWORD elevationSize = 0;
  if (!user || !::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &elevationSize)) {
    return false;
  }
  *elevated = elevation.TokenIsElevated != 0;
  return security->Build(user->User.Sid, *elevated);
}

// Where the folder goes. An elevated caller's under the Windows temporary
// folder, which (as every folder above it) only administrators may rename or
// delete from: the user's own temporary folder would let a process of the
// same user without elevation move the folder away between steps and put its
// own in its place. Any other caller's under its own temporary folder, where
// the helper runs with that caller's own rights and opens no door.
bool FolderParent(bool elevated, char (&parent)[MAX_PATH]) {
  DWORD length = 0;
  if (elevated) {
    // Asked of the platform, not of an environment the caller may have inherited.
    length = ::GetSystemWindowsDirectoryA(parent, MAX_PATH);
    if (length != 0 && length < MAX_PATH - 6) {
      if (parent[length - 1] != '\\') parent[length++] = '\\';
      std::strcpy(parent + length, "Temp\\");
      length += 5;
    }
  } else {
    length = ::GetTempPathA(MAX_PATH, parent);
  }
  // Room for "norza-" and 16 digits, then "\" and the helper's file name.
  if (length == 0 || length + 6 + 16 + 1 + sizeof kHelperFile > MAX_PATH) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return false;
  }
  return true;
}

// Creates `folder`, which must not exist yet, with `security`, and returns
// the handle that created it: it lists the folder and shares no deletion, so
// nobody can rename the folder away while it is open.
HANDLE CreateFolder(const char* folder, SECURITY_DESCRIPTOR* security, bool* created) {
  *created = false;
  WCHAR wide[MAX_PATH];
  UNICODE_STRING ntPath{};
  if (::MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH) == 0 ||
      !RtlDosPathNameToNtPathName_U(wide, &ntPath, nullptr, nullptr)) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return INVALID_HANDLE_VALUE;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &ntPath, OBJ_CASE_INSENSITIVE, nullptr, security);
  IO_STATUS_BLOCK io{};
  HANDLE folderHandle = INVALID_HANDLE_VALUE;
  // FILE_CREATE: never one that exists already.
  const NTSTATUS status =
      NtCreateFile(&folderHandle, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                   &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                   FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  RtlFreeUnicodeString(&ntPath);
  if (status < 0) {
    ::SetLastError(RtlNtStatusToDosError(status));
    return INVALID_HANDLE_VALUE;
  }
  *created = io.Information == FILE_CREATED;
  return folderHandle;
}

// The folder's owner and DACL, read through the handle itself.
platform::unique_malloc<void> ReadSecurity(HANDLE folder) {
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetKernelObjectSecurity(folder, kWhat, nullptr, 0, &needed);
  platform::unique_malloc<void> read(needed != 0 ? std::malloc(needed) : nullptr);
  if (read && !::GetKernelObjectSecurity(folder, kWhat, read.get(), needed, &needed)) read.reset();
  return read;
}

// What the handle says of the folder: a folder of its own (no link to
// elsewhere), with the security it was made with. Windows gives back the
// protected descriptor it was given; Wine keeps none on files and makes one
// up, unprotected: there is nothing to hold it to there.
bool FolderIsAsCreated(HANDLE folder, const HelperFolderSecurity& security) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  platform::unique_malloc<void> read = ReadSecurity(folder);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!read || !::GetSecurityDescriptorControl(read.get(), &control, &revision)) return false;
  if ((control & SE_DACL_PROTECTED) == 0 && platform::RunsUnderWine()) return true;
  return security.Describes(read.get());
}

// A helper's folder that outlived its caller (Windows cannot delete a
// running program's file, so a caller ended while its helper ran leaves its
// folder behind, the helper itself ended with it): removed by the next run of
// the same kind of caller. Only a folder made as this run would make it, and
// held by nobody, is touched: a live run's hold shares no deletion, and what
// another user made fails the check.
void RemoveLeftBehind(const char* parent, const HelperFolderSecurity& security) {
  char pattern[MAX_PATH];
  std::strcpy(pattern, parent);
  std::strcat(pattern, "norza-*");
  WIN32_FIND_DATAA found{};
  HANDLE search = ::FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || std::strlen(found.cFileName) != 6 + 16) continue;
    char folder[MAX_PATH];
    std::strcpy(folder, parent);
    std::strcat(folder, found.cFileName);
    platform::unique_hfile held(::CreateFileA(folder, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held || !FolderIsAsCreated(held.get(), security)) continue;
    // Nobody but this kind of caller can change what is inside.
    char file[MAX_PATH];
    std::strcpy(file, folder);
    std::strcat(file, "\\");
    std::strcat(file, kHelperFile);
    ::DeleteFileA(file);
    FILE_DISPOSITION_INFO remove{TRUE};
    ::SetFileInformationByHandle(held.get(), FileDispositionInfo, &remove, sizeof remove);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
}

}  // namespace

bool HelperFolderSecurity::Build(PSID user, bool elevated) {
  DWORD size = sizeof administrators_;
  if (!::CopySid(sizeof user_, user_, user) ||
      !::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &size)) {
    return false;
  }
  size = sizeof system_;
  if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size)) return false;
  // The first one granted owns the folder.
  PSID granted[2] = {user_, nullptr};
  if (::EqualSid(user_, system_)) {
    granted[0] = system_;
    granted[1] = administrators_;
  } else if (elevated) {
    granted[0] = administrators_;
    granted[1] = system_;
  }
  owner_ = granted[0];
  granted_[0] = granted[0];
  granted_[1] = granted[1];
  ACL* acl = reinterpret_cast<ACL*>(acl_);
  if (!::InitializeAcl(acl, sizeof acl_, ACL_REVISION)) return false;
  for (PSID sid : granted) {
    if (sid != nullptr &&
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid)) {
      return false;
    }
  }
  return ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
         ::SetSecurityDescriptorOwner(&descriptor_, granted[0], FALSE) &&
         ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
         ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

bool HelperFolderSecurity::Describes(PSECURITY_DESCRIPTOR read) const {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  if (read == nullptr || !::GetSecurityDescriptorControl(read, &control, &revision) ||
      (control & SE_DACL_PROTECTED) == 0 || !::GetSecurityDescriptorOwner(read, &owner, &defaulted) ||
      owner == nullptr || !::EqualSid(owner, owner_) || !::GetSecurityDescriptorDacl(read, &present, &dacl, &defaulted) ||
      !present || dacl == nullptr) {
    return false;
  }
  // Denying entries take nothing away that matters; any other entry must
  // grant one of those the folder was made for.
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !Grants(reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart))) {
      return false;
    }
  }
  return true;
}

bool HelperFolderSecurity::Grants(PSID sid) const {
  for (PSID granted : granted_) {
    if (granted != nullptr && ::EqualSid(granted, sid)) return true;
  }
  return false;
}

bool HelperFolder::Create() {
  HelperFolderSecurity security;
  bool elevated = false;
  char parent[MAX_PATH];
  char folder[MAX_PATH];
  if (!BuildFolderSecurity(&security, &elevated) || !FolderParent(elevated, parent)) return false;
  RemoveLeftBehind(parent, security);
  for (int attempt = 0; attempt < 32; ++attempt) {
    unsigned long long random = 0;
    if (!platform::RandomBytes(&random, sizeof random)) {
      LARGE_INTEGER now;
      ::QueryPerformanceCounter(&now);
      random = static_cast<unsigned long long>(now.QuadPart) ^ ::GetCurrentProcessId() ^ attempt;
    }
    std::strcpy(folder, parent);
    std::strcat(folder, "norza-");
    AppendHex(folder, random);
    bool created = false;
    platform::unique_hfile made(CreateFolder(folder, security.descriptor(), &created));
    if (!made) {
      if (::GetLastError() == ERROR_ALREADY_EXISTS || ::GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    if (!created || !FolderIsAsCreated(made.get(), security)) {
      // Not the folder asked for: no helper goes into it.
      made.reset();
      if (created) ::RemoveDirectoryA(folder);
      ::SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    hold_ = std::move(made);
    std::strcpy(path_, folder);
    return true;
  }
  return false;
}

void HelperFolder::Remove() {
  platform::last_error_guard keep;  // the caller's failure, if any, stays its result
  hold_.reset();
  if (path_[0] == '\0') return;
  RemoveSoon(::RemoveDirectoryA, path_);
  path_[0] = '\0';
}

void RemoveSoon(BOOL(WINAPI* remove)(LPCSTR), const char* path) {
  constexpr DWORD kRemovalPatience = 2000;
  for (DWORD waited = 0; waited < kRemovalPatience; waited += platform::kPollMilliseconds) {
    if (remove(path) || ::GetLastError() == ERROR_FILE_NOT_FOUND) break;
    ::Sleep(platform::kPollMilliseconds);
  }
}

}  // namespace helperrun
