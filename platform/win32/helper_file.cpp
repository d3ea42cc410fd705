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

// A security descriptor whose DACL grants the current user everything and
// nobody else anything, inherited by what is created below it.
class PrivateSecurity {
 public:
  bool Build() {
    unique_kernel_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user_.reset(static_cast<TOKEN_USER*>(std::malloc(size)));
    if (!user_ || !::GetTokenInformation(token.get(), TokenUser, user_.get(), size, &size)) return false;
    PSID sid = user_->User.Sid;
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid);
    acl_.reset(static_cast<ACL*>(std::malloc(aclSize)));
    return acl_ && ::InitializeAcl(acl_.get(), aclSize, ACL_REVISION) &&
           ::AddAccessAllowedAceEx(acl_.get(), ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL,
                                   sid) &&
           ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl_.get(), FALSE) &&
           ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  SECURITY_ATTRIBUTES* attributes() {
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    return &attributes_;
  }

 private:
  unique_malloc<TOKEN_USER> user_;
  unique_malloc<ACL> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

void AppendHex(char* out, unsigned long long value) {
  const char digits[] = "0123456789abcdef";
  char* end = out + std::strlen(out);
  for (int shift = 60; shift >= 0; shift -= 4) *end++ = digits[(value >> shift) & 0xF];
  *end = '\0';
}

// A new folder under the temporary folder that only this user can change, so
// nobody can put another program in the helper's place between writing and
// starting it. A name that exists already is never reused.
bool CreatePrivateFolder(char (&folder)[MAX_PATH]) {
  PrivateSecurity security;
  if (!security.Build()) return false;
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
    if (::CreateDirectoryA(folder, security.attributes())) return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

}  // namespace

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

bool WriteHelper(const char* path) {
  const void* image;
  DWORD size;
  if (!FindHelperImage(&image, &size)) return false;
  unique_kernel_handle file(
      ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
  if (!WriteAll(file.get(), image, size)) return false;
  return ::CloseHandle(file.release()) != FALSE;
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
  if (!WriteHelper(path_)) {
    const DWORD error = ::GetLastError();
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
  if (placed_) RemoveHelper(folder_, path_);
  ::SetLastError(error);
}

}  // namespace platform
