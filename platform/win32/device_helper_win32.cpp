// Running the 64-bit device helper carried as a resource of this binary.
#include "platform/device_helper.h"

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

// The pipe ends the helper gets as standard input and output; only those are
// handed to it where the platform can restrict inheritance.
class ChildHandles {
 public:
  ChildHandles(HANDLE input, HANDLE output) : handles_{input, output} {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    list_.reset(static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(std::malloc(size)));
    if (list_ && ::InitializeProcThreadAttributeList(list_.get(), 1, 0, &size)) {
      initialized_ = true;
      restricted_ = ::UpdateProcThreadAttribute(list_.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                                sizeof handles_, nullptr, nullptr) != FALSE;
    }
  }
  ~ChildHandles() {
    if (initialized_) ::DeleteProcThreadAttributeList(list_.get());
  }
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return restricted_ ? list_.get() : nullptr; }

 private:
  HANDLE handles_[2];
  unique_malloc<_PROC_THREAD_ATTRIBUTE_LIST> list_;
  bool initialized_ = false;
  bool restricted_ = false;
};

bool StartHelper(const char* path, HANDLE input, HANDLE output, PROCESS_INFORMATION* process) {
  ChildHandles inherited(input, output);
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = output;
  DWORD flags = CREATE_NO_WINDOW;
  if (inherited.list() != nullptr) {
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited.list();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  char commandLine[MAX_PATH + 3];
  std::strcpy(commandLine, "\"");
  std::strcat(commandLine, path);
  std::strcat(commandLine, "\"");
  return ::CreateProcessA(path, commandLine, nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &startup.StartupInfo, process) != FALSE;
}

// Takes what the pipe holds now, without waiting for more.
void Drain(HANDLE pipe, DeviceHelperRun* run, std::size_t* capacity) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char chunk[4096];
    DWORD read = 0;
    if (!::ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &read, nullptr) ||
        read == 0) {
      return;
    }
    const std::size_t room = kMaxDeviceHelperOutput - run->outputSize;
    std::size_t kept = read <= room ? read : room;
    if (kept != 0 && run->outputSize + kept > *capacity) {
      std::size_t grown = *capacity == 0 ? 4096 : *capacity;
      while (grown < run->outputSize + kept) grown *= 2;
      void* bigger = std::realloc(run->output, grown);
      if (bigger != nullptr) {
        run->output = static_cast<char*>(bigger);
        *capacity = grown;
      } else {
        kept = 0;  // what does not fit is lost, and the answer with it
      }
    }
    if (kept < read) run->outputTruncated = true;
    if (kept == 0) continue;
    std::memcpy(run->output + run->outputSize, chunk, kept);
    run->outputSize += kept;
  }
}

// Dispatches this thread's messages; a quit message is kept for the caller's
// own loop and handed back once the helper has ended.
void Pump(bool* quit, WPARAM* quitCode) {
  MSG message;
  while (!*quit && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      *quit = true;
      *quitCode = message.wParam;
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

// Waits for the helper to end, reading its output as it comes (so it never
// blocks on a full pipe) and pumping messages: on the calling thread of an
// installation program, windows of its own and the callbacks of a hook it
// installed must go on. The end of the process, not of the pipe, ends the
// wait: a process the helper started could hold the pipe open.
void AwaitHelper(HANDLE process, HANDLE output, DeviceHelperRun* run) {
  std::size_t capacity = 0;
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    Drain(output, run, &capacity);
    const DWORD woke = quit ? ::WaitForSingleObject(process, kPollMilliseconds)
                            : ::MsgWaitForMultipleObjectsEx(1, &process, kPollMilliseconds, QS_ALLINPUT,
                                                            MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_FAILED) {
      ::WaitForSingleObject(process, INFINITE);
      break;
    }
    if (!quit && woke == WAIT_OBJECT_0 + 1) Pump(&quit, &quitCode);
  }
  Drain(output, run, &capacity);
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) { return ::IsWow64Process(hProcess, Wow64Process); }

BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DeviceHelperRun* run) {
  if (run == nullptr || (request == nullptr && requestSize != 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = DeviceHelperRun{};
  char folder[MAX_PATH];
  if (!CreatePrivateFolder(folder)) return FALSE;
  char path[MAX_PATH];
  std::strcpy(path, folder);
  std::strcat(path, "\\");
  std::strcat(path, kHelperFile);

  BOOL ran = FALSE;
  DWORD error = ERROR_SUCCESS;
  if (!WriteHelper(path)) {
    error = ::GetLastError();
  } else {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    unique_kernel_handle inputRead, inputWrite, outputRead, outputWrite;
    PROCESS_INFORMATION process{};
    if (!::CreatePipe(inputRead.put(), inputWrite.put(), &inheritable, 0) ||
        !::CreatePipe(outputRead.put(), outputWrite.put(), &inheritable, 64 * 1024) ||
        !::SetHandleInformation(inputWrite.get(), HANDLE_FLAG_INHERIT, 0) ||
        !::SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0) ||
        !StartHelper(path, inputRead.get(), outputWrite.get(), &process)) {
      error = ::GetLastError();
    } else {
      unique_kernel_handle processHandle(process.hProcess);
      ::CloseHandle(process.hThread);
      inputRead.reset();
      outputWrite.reset();
      // A helper that ends before reading all of it makes the write fail;
      // what it answers then tells.
      WriteAll(inputWrite.get(), request, requestSize);
      inputWrite.reset();
      AwaitHelper(processHandle.get(), outputRead.get(), run);
      if (!::GetExitCodeProcess(processHandle.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
      ran = TRUE;
    }
  }
  RemoveHelper(folder, path);
  if (!ran) {
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
  }
  return ran;
}

void FreeDeviceHelperRun(DeviceHelperRun* run) {
  if (run == nullptr) return;
  std::free(run->output);
  *run = DeviceHelperRun{};
}

}  // namespace platform
