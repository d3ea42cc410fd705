#include "helper_file.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <winternl.h>

#include <cstdlib>
#include <cstring>

#include "helper_image.h"
#include "platform/unique_handle.h"

namespace platform {

namespace {

constexpr char kHelperFile[] = "norza-device-helper.exe";
constexpr DWORD kPollMilliseconds = 50;

// The module this code is linked into: the program or the library.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

// The caller's user and whether its token is elevated decide the folder's
// security and where it lies.
bool BuildFolderSecurity(HelperFolderSecurity* security, bool* elevated) {
  unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  unique_malloc<TOKEN_USER> user = TokenUserOf(token.get());
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

// Wine keeps no descriptors on files: it hands back one it made up.
bool RunsUnderWine() {
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// What the handle that created the folder says of it: a folder of its own
// (no link to elsewhere), owned as asked, and open to nobody but those the
// descriptor names. Windows gives back the protected descriptor it was given;
// one that reads back unprotected is not the folder asked for, except under
// Wine, whose made-up descriptor lacks the protection: there is nothing to
// hold it to there.
bool FolderIsAsCreated(HANDLE folder, const HelperFolderSecurity& security) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  if (::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &read) != ERROR_SUCCESS) {
    return false;
  }
  unique_hlocal held(read);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(read, &control, &revision)) return false;
  if ((control & SE_DACL_PROTECTED) == 0) return RunsUnderWine();
  if (owner == nullptr || !::EqualSid(owner, security.owner()) || dacl == nullptr) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !security.Grants(reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart))) {
      return false;
    }
  }
  return true;
}

// A new folder that only the caller's kind of token can change, so nobody
// else can put another program in the helper's place between writing and
// starting it. A name that exists already is never reused. The handle that
// created it holds it until the helper has ended.
bool CreatePrivateFolder(char (&folder)[MAX_PATH], HANDLE* hold) {
  HelperFolderSecurity security;
  bool elevated = false;
  char parent[MAX_PATH];
  if (!BuildFolderSecurity(&security, &elevated) || !FolderParent(elevated, parent)) return false;
  for (int attempt = 0; attempt < 32; ++attempt) {
    unsigned long long random = 0;
    if (!RtlGenRandom(&random, sizeof random)) {
      LARGE_INTEGER now;
      ::QueryPerformanceCounter(&now);
      random = static_cast<unsigned long long>(now.QuadPart) ^ ::GetCurrentProcessId() ^ attempt;
    }
    std::strcpy(folder, parent);
    std::strcat(folder, "norza-");
    AppendHex(folder, random);
    bool created = false;
    unique_kernel_handle made(CreateFolder(folder, security.descriptor(), &created));
    if (made.get() == INVALID_HANDLE_VALUE) {
      made.release();
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
    *hold = made.release();
    return true;
  }
  return false;
}

}  // namespace

unique_malloc<TOKEN_USER> TokenUserOf(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  unique_malloc<TOKEN_USER> user(static_cast<TOKEN_USER*>(std::malloc(size)));
  if (user && !::GetTokenInformation(token, TokenUser, user.get(), size, &size)) user.reset();
  return user;
}

void AppendHex(char* out, unsigned long long value) {
  const char digits[] = "0123456789abcdef";
  char* end = out + std::strlen(out);
  for (int shift = 60; shift >= 0; shift -= 4) *end++ = digits[(value >> shift) & 0xF];
  *end = '\0';
}

#ifdef NORZA_HELPER_FILE_TEST_HOOK
void (*g_afterHelperWritten)(const char* path) = nullptr;
#endif

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

bool HelperFolderSecurity::Grants(PSID sid) const {
  for (PSID granted : granted_) {
    if (granted != nullptr && ::EqualSid(granted, sid)) return true;
  }
  return false;
}

bool WriteAll(HANDLE file, const void* bytes, std::size_t size) {
  const char* p = static_cast<const char*>(bytes);
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
    if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

namespace {

// Writes the helper and holds it from then to its start: the writing handle
// lets nobody else write; it goes only once a reading one that lets others
// write is open, and that one only once one that lets nobody write is. The
// file is compared with the image through the last: what starts is then what
// this binary carries. In an elevated caller's folder nobody but an
// administrator can even open it.
bool WriteAndHoldHelper(const char* path, const void* image, DWORD size, HANDLE* hold) {
  unique_kernel_handle written(
      ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr));
  if (written.get() == INVALID_HANDLE_VALUE) {
    written.release();
    return false;
  }
  if (!WriteAll(written.get(), image, size) || !::FlushFileBuffers(written.get())) return false;
  unique_kernel_handle between(::ReOpenFile(written.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
  if (between.get() == INVALID_HANDLE_VALUE) {
    between.release();
    return false;
  }
  written.reset();
#ifdef NORZA_HELPER_FILE_TEST_HOOK
  if (g_afterHelperWritten != nullptr) g_afterHelperWritten(path);
#endif
  unique_kernel_handle file(::ReOpenFile(between.get(), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
  between.reset();
  const char* expected = static_cast<const char*>(image);
  DWORD compared = 0;
  for (;;) {
    char chunk[8192];
    DWORD read = 0;
    if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) return false;
    if (read > size - compared || std::memcmp(chunk, expected + compared, read) != 0) break;
    if (read == 0) {
      if (compared != size) break;
      *hold = file.release();
      return true;
    }
    compared += read;
  }
  ::SetLastError(kHelperChangedError);
  return false;
}

// Removes the helper and its folder; the image may stay mapped for a moment
// after the process has ended.
void RemoveHelper(const char* folder, const char* path) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (::DeleteFileA(path) || ::GetLastError() == ERROR_FILE_NOT_FOUND) break;
    ::Sleep(kPollMilliseconds);
  }
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (::RemoveDirectoryA(folder) || ::GetLastError() == ERROR_FILE_NOT_FOUND) break;
    ::Sleep(kPollMilliseconds);
  }
}

}  // namespace

bool HelperFile::Place() {
  if (!CreatePrivateFolder(folder_, &folderHold_)) return false;
  std::strcpy(path_, folder_);
  std::strcat(path_, "\\");
  std::strcat(path_, kHelperFile);
  placed_ = true;
  HelperImage image;
  if (!image.UnpackResource(ThisModule()) || !WriteAndHoldHelper(path_, image.bytes(), image.size(), &hold_)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(folderHold_);
    folderHold_ = INVALID_HANDLE_VALUE;
    RemoveHelper(folder_, path_);
    placed_ = false;
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return false;
  }
  return true;
}

void HelperFile::EndHold() {
  if (hold_ != INVALID_HANDLE_VALUE) ::CloseHandle(hold_);
  hold_ = INVALID_HANDLE_VALUE;
}

HelperFile::~HelperFile() {
  const DWORD error = ::GetLastError();  // the caller's failure, if any, stays its result
  EndHold();
  if (folderHold_ != INVALID_HANDLE_VALUE) ::CloseHandle(folderHold_);
  folderHold_ = INVALID_HANDLE_VALUE;
  if (placed_) RemoveHelper(folder_, path_);
  ::SetLastError(error);
}

}  // namespace platform
