// Running the 64-bit device helper carried as a resource of this binary.
#include "helperrun/device_helper_run.h"

#include <cstdlib>
#include <cstring>

#include "helperrun/win32/helper_file.h"
#include "helperrun/win32/write_all.h"
#include "platform/unique_handle.h"

namespace helperrun {

namespace {

// How long a helper ended at its limit is given to go before its file is removed.
constexpr DWORD kEndWait = 10 * 1000;

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

// The helper lives no longer than its caller: started suspended, it joins a
// job that ends it when the job's last handle, ours, closes (also when this
// process is ended), and only then runs. Windows 7 refuses a job to a
// process that is in one already (as under some installers' own jobs): the
// helper then runs without, under its caller's limits alone.
bool StartHelper(const char* path, const char* folder, HANDLE input, HANDLE output, PROCESS_INFORMATION* process,
                 platform::unique_kernel_handle* job) {
  ChildHandles inherited(input, output);
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = output;
  DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
  if (inherited.list() != nullptr) {
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited.list();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  char commandLine[MAX_PATH + 3];
  std::strcpy(commandLine, "\"");
  std::strcat(commandLine, path);
  std::strcat(commandLine, "\"");
  // Its own folder as its current one, never the caller's (a user's folder, say).
  if (!::CreateProcessA(path, commandLine, nullptr, nullptr, TRUE, flags, nullptr, folder, &startup.StartupInfo,
                        process)) {
    return false;
  }
  job->reset(::CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!*job ||
      !::SetInformationJobObject(job->get(), JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
      !::AssignProcessToJobObject(job->get(), process->hProcess)) {
    job->reset();
  }
  if (::ResumeThread(process->hThread) == static_cast<DWORD>(-1)) {
    platform::last_error_guard keep;
    ::TerminateProcess(process->hProcess, ERROR_PROCESS_ABORTED);
    ::CloseHandle(process->hThread);
    ::CloseHandle(process->hProcess);
    return false;
  }
  return true;
}

}  // namespace

BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DWORD limit, helperrun::ProcessRun* run) {
  if (run == nullptr || (request == nullptr && requestSize != 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = helperrun::ProcessRun{};
  HelperFile helper;
  if (!helper.Place()) return FALSE;

  // Made inheritable only where the helper's own ends are concerned, and
  // handed to it alone: this process's ends never reach another process that
  // another thread starts meanwhile (holding the input's writing end open,
  // it would keep the helper waiting for the rest of its request).
  platform::unique_kernel_handle inputRead, inputWrite, outputRead, outputWrite, job;
  PROCESS_INFORMATION process{};
  if (!::CreatePipe(inputRead.put(), inputWrite.put(), nullptr, 0) ||
      !::CreatePipe(outputRead.put(), outputWrite.put(), nullptr, 64 * 1024) ||
      !::SetHandleInformation(inputRead.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
      !::SetHandleInformation(outputWrite.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
      !StartHelper(helper.path(), helper.folder(), inputRead.get(), outputWrite.get(), &process, &job)) {
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
  helperrun::OutputChannel output;
  output.pipe = outputRead.get();
  if (!helperrun::AwaitProcess(processHandle.get(), output, run, limit)) {
    // A class installer that never returns must not hold the caller for
    // ever; the helper's file and folder go once it has ended.
    run->timedOut = true;
    ::TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(processHandle.get(), kEndWait);
  }
  if (!::GetExitCodeProcess(processHandle.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
  return TRUE;
}

}  // namespace helperrun
