// Running the 64-bit device helper carried as a resource of this binary.
#include "device_helper_run.h"

#include <cstdlib>
#include <cstring>

#include "helper_file.h"
#include "write_all.h"
#include "platform/unique_handle.h"

namespace helperrun {

namespace {

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
  platform::unique_malloc<_PROC_THREAD_ATTRIBUTE_LIST> list_;
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

}  // namespace

BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DWORD limit, platform::ProcessRun* run) {
  if (run == nullptr || (request == nullptr && requestSize != 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = platform::ProcessRun{};
  HelperFile helper;
  if (!helper.Place()) return FALSE;

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  platform::unique_kernel_handle inputRead, inputWrite, outputRead, outputWrite;
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
  platform::unique_kernel_handle processHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  inputRead.reset();
  outputWrite.reset();
  // A helper that ends before reading all of it makes the write fail; what
  // it answers then tells.
  WriteAll(inputWrite.get(), request, requestSize);
  inputWrite.reset();
  platform::OutputChannel output;
  output.pipe = outputRead.get();
  if (!platform::AwaitProcess(processHandle.get(), output, run, limit)) {
    // A class installer that never returns must not hold the caller for
    // ever; the helper's file and folder go once it has ended.
    run->timedOut = true;
    ::TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(processHandle.get(), 10 * 1000);
  }
  if (!::GetExitCodeProcess(processHandle.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
  return TRUE;
}

}  // namespace helperrun
