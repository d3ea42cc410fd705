// Running the 64-bit device helper carried as a resource of this binary.
#include "platform/device_helper.h"

#include <ntsecapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "helper_file.h"
#include "helper_protocol.h"
#include "platform/unique_handle.h"

namespace platform {

namespace {

constexpr DWORD kPollMilliseconds = 50;

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

// The answer pipe of an elevated run: its server end, opened for overlapped
// use, read only once the helper's own process is the one connected to it.
class AnswerPipe {
 public:
  bool Create(const char* name);
  // Whether the helper has connected; false for good once another process has.
  bool Ready(DWORD helperProcessId);
  HANDLE pipe() const { return pipe_.get(); }
  OVERLAPPED* overlapped() { return &overlapped_; }

 private:
  unique_kernel_handle pipe_;
  unique_kernel_handle event_;
  OVERLAPPED overlapped_{};
  bool connected_ = false;
  bool refused_ = false;
};

// Takes what the pipe holds now, without waiting for more.
void Drain(HANDLE pipe, OVERLAPPED* overlapped, DeviceHelperRun* run, std::size_t* capacity) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char chunk[4096];
    DWORD read = 0;
    // What is available is there: an overlapped read of it completes at once.
    if (!::ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &read, overlapped) &&
        (overlapped == nullptr || ::GetLastError() != ERROR_IO_PENDING ||
         !::GetOverlappedResult(pipe, overlapped, &read, TRUE))) {
      return;
    }
    if (read == 0) return;
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
void AwaitHelper(HANDLE process, HANDLE output, DeviceHelperRun* run, AnswerPipe* answer = nullptr) {
  std::size_t capacity = 0;
  bool quit = false;
  WPARAM quitCode = 0;
  const DWORD processId = ::GetProcessId(process);
  OVERLAPPED* overlapped = answer != nullptr ? answer->overlapped() : nullptr;
  auto drain = [&] {
    if (answer == nullptr || answer->Ready(processId)) Drain(output, overlapped, run, &capacity);
  };
  for (;;) {
    drain();
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
  drain();
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

// "\\.\pipe\norza-" and 16 random hexadecimal digits.
bool NewPipeName(char (&name)[64]) {
  unsigned long long random = 0;
  if (!RtlGenRandom(&random, sizeof random)) return false;
  std::strcpy(name, "\\\\.\\pipe\\norza-");
  char* end = name + std::strlen(name);
  for (int shift = 60; shift >= 0; shift -= 4) *end++ = "0123456789abcdef"[(random >> shift) & 0xF];
  *end = '\0';
  return true;
}

// Open to this user and to the administrators (the helper may run as another
// administrator, whose password the user typed), and to nobody else.
bool PipeSecurity(platform::unique_hlocal* descriptor) {
  unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  unique_malloc<TOKEN_USER> user(static_cast<TOKEN_USER*>(std::malloc(size)));
  char* sid = nullptr;
  if (!user || !::GetTokenInformation(token.get(), TokenUser, user.get(), size, &size) ||
      !::ConvertSidToStringSidA(user->User.Sid, &sid)) {
    return false;
  }
  unique_hlocal sidText(sid);
  char sddl[256];
  if (std::strlen(sid) > sizeof sddl - 40) return false;
  std::strcpy(sddl, "D:P(A;;GRGW;;;");
  std::strcat(sddl, sid);
  std::strcat(sddl, ")(A;;GRGW;;;BA)");
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &built, nullptr)) return false;
  descriptor->reset(built);
  return true;
}

bool AnswerPipe::Create(const char* name) {
  unique_hlocal descriptor;
  if (!PipeSecurity(&descriptor)) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  event_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event_) return false;
  // One instance, and it must be the first of that name: nobody can have
  // made it before us, and nobody can connect beside the helper.
  pipe_.reset(::CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                                 64 * 1024, 0, &attributes));
  if (pipe_.get() == INVALID_HANDLE_VALUE) {
    pipe_.release();
    return false;
  }
  overlapped_.hEvent = event_.get();
  if (::ConnectNamedPipe(pipe_.get(), &overlapped_)) {
    connected_ = true;
  } else if (::GetLastError() == ERROR_PIPE_CONNECTED) {
    connected_ = true;
  } else if (::GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  return true;
}

bool AnswerPipe::Ready(DWORD helperProcessId) {
  if (refused_) return false;
  if (!connected_) {
    DWORD ignored = 0;
    if (::WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0 ||
        !::GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, FALSE)) {
      return false;
    }
    connected_ = true;
    ::ResetEvent(event_.get());
  }
  ULONG client = 0;
  if (!::GetNamedPipeClientProcessId(pipe_.get(), &client) || client != helperProcessId) {
    // Someone else got there first: whatever it writes is not an answer.
    refused_ = true;
    ::DisconnectNamedPipe(pipe_.get());
    return false;
  }
  return true;
}

// Asks the platform to start the helper elevated: the consent prompt, or the
// prompt for an administrator's password, comes up now.
bool StartElevated(const char* path, const char* parameters, HANDLE* process) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOA execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.hwnd = ::GetActiveWindow();
  execute.lpVerb = "runas";
  execute.lpFile = path;
  execute.lpParameters = parameters;
  execute.nShow = SW_HIDE;
  BOOL started = ::ShellExecuteExA(&execute);
  DWORD error = ::GetLastError();
  if (started && execute.hProcess == nullptr) {
    started = FALSE;
    error = ERROR_GEN_FAILURE;  // handed to something that gave no process
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  *process = started ? execute.hProcess : nullptr;
  ::SetLastError(started ? ERROR_SUCCESS : (error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE));
  return started != FALSE;
}

}  // namespace

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) { return ::IsWow64Process(hProcess, Wow64Process); }

BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DeviceHelperRun* run) {
  if (run == nullptr || (request == nullptr && requestSize != 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = DeviceHelperRun{};
  HelperFile helper;
  if (!helper.Place()) return FALSE;

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  unique_kernel_handle inputRead, inputWrite, outputRead, outputWrite;
  PROCESS_INFORMATION process{};
  if (!::CreatePipe(inputRead.put(), inputWrite.put(), &inheritable, 0) ||
      !::CreatePipe(outputRead.put(), outputWrite.put(), &inheritable, 64 * 1024) ||
      !::SetHandleInformation(inputWrite.get(), HANDLE_FLAG_INHERIT, 0) ||
      !::SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0) ||
      !StartHelper(helper.path(), inputRead.get(), outputWrite.get(), &process)) {
    const DWORD error = ::GetLastError();
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return FALSE;  // the helper's file goes with `helper`, keeping the error
  }
  helper.EndHold();
  unique_kernel_handle processHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  inputRead.reset();
  outputWrite.reset();
  // A helper that ends before reading all of it makes the write fail; what
  // it answers then tells.
  WriteAll(inputWrite.get(), request, requestSize);
  inputWrite.reset();
  AwaitHelper(processHandle.get(), outputRead.get(), run);
  if (!::GetExitCodeProcess(processHandle.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
  return TRUE;
}

BOOL RunDeviceHelperElevated(const char* request, std::size_t requestSize, DeviceHelperRun* run) {
  if (run == nullptr || request == nullptr || requestSize == 0 || requestSize > helper::kMaxCommandLineRequest / 2) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = DeviceHelperRun{};
  char name[64];
  AnswerPipe answer;
  helper::Text parameters;
  if (!NewPipeName(name) || !answer.Create(name)) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  parameters.Append("--answer ");
  parameters.Append(name);
  parameters.Append(" ");
  helper::WriteHexRequest(parameters, request, requestSize);
  parameters.Append("", 1);
  if (!parameters.ok()) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  HelperFile helper;
  HANDLE started = nullptr;
  if (!helper.Place() || !StartElevated(helper.path(), parameters.data(), &started)) return FALSE;
  helper.EndHold();
  unique_kernel_handle process(started);
  AwaitHelper(process.get(), answer.pipe(), run, &answer);
  if (!::GetExitCodeProcess(process.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
  return TRUE;
}

void FreeDeviceHelperRun(DeviceHelperRun* run) {
  if (run == nullptr) return;
  std::free(run->output);
  *run = DeviceHelperRun{};
}

}  // namespace platform
