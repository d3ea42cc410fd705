#include "helper_file.h"

#include <ntsecapi.h>

#include <cstdlib>
#include <cstring>

#include "platform/unique_handle.h"

namespace platform {

namespace {

// The helper's program image, an RCDATA resource of kelvane.exe and tambrel.dll.
constexpr char kHelperResource[] = "NORZA_DEVICE_HELPER";
constexpr char kHelperFile[] = "norza-device-helper.exe";
constexpr DWORD kPollMilliseconds = 50;

// The module this code is linked into: the program or the library.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

bool FindHelperImage(const void** bytes, DWORD* size) {
  HMODULE module = ThisModule();
  HRSRC resource = ::FindResourceA(module, kHelperResource, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL loaded = resource != nullptr ? ::LoadResource(module, resource) : nullptr;
  *bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  *size = resource != nullptr ? ::SizeofResource(module, resource) : 0;
  if (*bytes == nullptr || *size == 0) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  return true;
}

// The caller's user and whether its token is elevated decide the folder's security.
bool BuildFolderSecurity(HelperFolderSecurity* security) {
  unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  unique_malloc<TOKEN_USER> user = TokenUserOf(token.get());
  TOKEN_ELEVATION elevation{};
  DWORD elevationSize = 0;
  return user && ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &elevationSize) &&
         security->Build(user->User.Sid, elevation.TokenIsElevated != 0);
}

// A new folder under the temporary folder that only the caller's kind of
// token can change, so nobody else can put another program in the helper's
// place between writing and starting it. A name that exists already is never
// reused.
bool CreatePrivateFolder(char (&folder)[MAX_PATH]) {
  HelperFolderSecurity security;
  if (!BuildFolderSecurity(&security)) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.descriptor(), FALSE};
  char temp[MAX_PATH];
  const DWORD length = ::GetTempPathA(MAX_PATH, temp);
  // Room for "norza-" and 16 digits, then "\" and the helper's file name.
  if (length == 0 || length + 6 + 16 + 1 + sizeof kHelperFile > MAX_PATH) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return false;
  }
  for (int attempt = 0; attempt < 32; ++attempt) {
    unsigned long long random = 0;
    if (!RtlGenRandom(&random, sizeof random)) {
      LARGE_INTEGER now;
      ::QueryPerformanceCounter(&now);
      random = static_cast<unsigned long long>(now.QuadPart) ^ ::GetCurrentProcessId() ^ attempt;
    }
    std::strcpy(folder, temp);
    std::strcat(folder, "norza-");
    AppendHex(folder, random);
    if (::CreateDirectoryA(folder, &attributes)) return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
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

bool WriteHelper(const char* path, const void* image, DWORD size) {
  unique_kernel_handle file(
      ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
  if (!WriteAll(file.get(), image, size)) return false;
  return ::CloseHandle(file.release()) != FALSE;
}

// Opens the helper again for reading, denying writers and deleters, and
// compares it with the image: what starts is then what this binary carries.
// The handle stays open until the start.
bool HoldHelper(const char* path, const void* image, DWORD size, HANDLE* hold) {
  unique_kernel_handle file(
      ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
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
  if (!CreatePrivateFolder(folder_)) return false;
  std::strcpy(path_, folder_);
  std::strcat(path_, "\\");
  std::strcat(path_, kHelperFile);
  placed_ = true;
  // The temporary folder is the user's own: whoever may change it may rename
  // what is in it, unless a handle that denies deleting is open.
  folderHold_ = ::CreateFileA(folder_, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const void* image = nullptr;
  DWORD size = 0;
  const bool written = folderHold_ != INVALID_HANDLE_VALUE && FindHelperImage(&image, &size) &&
                       WriteHelper(path_, image, size);
#ifdef NORZA_HELPER_FILE_TEST_HOOK
  if (written && g_afterHelperWritten != nullptr) g_afterHelperWritten(path_);
#endif
  if (!written || !HoldHelper(path_, image, size, &hold_)) {
    const DWORD error = ::GetLastError();
    if (folderHold_ != INVALID_HANDLE_VALUE) ::CloseHandle(folderHold_);
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
  if (placed_) RemoveHelper(folder_, path_);
  ::SetLastError(error);
}

}  // namespace platform
