// Running the 64-bit device helper carried as a resource of this binary.
#include "platform/device_helper.h"

#include <cstdlib>
#include <cstring>

#include "helper_file.h"
#include "helper_wait.h"
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

}  // namespace

bool AwaitHelper(HANDLE process, const AnswerChannel& answer, DeviceHelperRun* run, DWORD limit) {
  std::size_t capacity = 0;
  bool quit = false;
  bool ended = true;
  WPARAM quitCode = 0;
  const DWORD processId = ::GetProcessId(process);
  const ULONGLONG started = ::GetTickCount64();
  auto drain = [&] {
    if (answer.ready == nullptr || answer.ready(answer.context, processId)) {
      Drain(answer.pipe, answer.overlapped, run, &capacity);
    }
  };
  for (;;) {
    drain();
    const DWORD woke = quit ? ::WaitForSingleObject(process, kPollMilliseconds)
                            : ::MsgWaitForMultipleObjectsEx(1, &process, kPollMilliseconds, QS_ALLINPUT,
                                                            MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_FAILED) {
      ended = ::WaitForSingleObject(process, limit) == WAIT_OBJECT_0;
      break;
    }
    if (limit != INFINITE && ::GetTickCount64() - started >= limit) {
      ended = false;
      break;
    }
    if (!quit && woke == WAIT_OBJECT_0 + 1) Pump(&quit, &quitCode);
  }
  drain();
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
  return ended;
}

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) { return ::IsWow64Process(hProcess, Wow64Process); }

BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DWORD limit, DeviceHelperRun* run) {
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
  AnswerChannel answer;
  answer.pipe = outputRead.get();
  if (!AwaitHelper(processHandle.get(), answer, run, limit)) {
    // A class installer that never returns must not hold the caller for
    // ever; the helper's file and folder go once it has ended.
    run->timedOut = true;
    ::TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(processHandle.get(), 10 * 1000);
  }
  if (!::GetExitCodeProcess(processHandle.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
  return TRUE;
}

void FreeDeviceHelperRun(DeviceHelperRun* run) {
  if (run == nullptr) return;
  std::free(run->output);
  *run = DeviceHelperRun{};
}

}  // namespace platform
