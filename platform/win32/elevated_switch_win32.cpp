// The control panel without an administrator's rights asks consent for
// itself: it starts its own file through the platform's elevation request,
// so the prompt names the panel and its publisher, and the elevated run is
// told nothing but the mode and the answer pipe. Kept apart from the
// helper's run, so that the installer library, which never asks for
// consent, does not carry it.
#include "platform/elevated_switch.h"

#include <ntsecapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "helper_file.h"
#include "helper_protocol.h"
#include "helper_wait.h"
#include "platform/unique_handle.h"

namespace platform {

namespace {

// The answer pipe of an elevated run: its server end, opened for overlapped
// use, read only once the run's own process is the one connected to it.
class AnswerPipe {
 public:
  AnswerPipe() = default;
  // A connection still awaited is called off, and its end awaited, before
  // the pipe and the record the platform writes its end into go.
  ~AnswerPipe() {
    if (pending_) {
      const DWORD error = ::GetLastError();  // the run's failure, if any, stays its result
      DWORD ignored = 0;
      ::CancelIoEx(pipe_.get(), &overlapped_);
      ::GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, TRUE);
      ::SetLastError(error);
    }
  }
  AnswerPipe(const AnswerPipe&) = delete;
  AnswerPipe& operator=(const AnswerPipe&) = delete;
  bool Create(const char* name);
  // Whether the run has connected; false for good once another process has.
  bool Ready(DWORD runProcessId);
  HANDLE pipe() const { return pipe_.get(); }
  OVERLAPPED* overlapped() { return &overlapped_; }

 private:
  unique_kernel_handle pipe_;
  unique_kernel_handle event_;
  OVERLAPPED overlapped_{};
  bool connected_ = false;
  bool pending_ = false;  // the connection is awaited
  bool refused_ = false;
};

// The answer pipe's prefix and 16 random hexadecimal digits.
bool NewPipeName(char (&name)[helper::kAnswerPipeNameSize]) {
  unsigned long long random = 0;
  if (!RtlGenRandom(&random, sizeof random)) return false;
  std::strcpy(name, helper::kAnswerPipePrefix);
  AppendHex(name, random);
  return true;
}

// Only an administrator's process may write the answer: the elevated run
// (Windows gives a standard user's process the Administrators group for
// denying only). Nobody else of this user can get there first and lose the
// consented switch. The OWNER RIGHTS entry takes the place of the rights an
// owner has implicitly: the user who made the pipe may read its descriptor,
// but not change it to let itself in.
bool PipeSecurity(platform::unique_hlocal* descriptor) {
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;GW;;;BA)(A;;RC;;;S-1-3-4)", SDDL_REVISION_1,
                                                              &built, nullptr)) {
    return false;
  }
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
  // made it before us, and nobody can connect beside the elevated run.
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
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    pending_ = true;
  } else {
    return false;
  }
  return true;
}

bool AnswerPipe::Ready(DWORD runProcessId) {
  if (refused_) return false;
  if (!connected_) {
    DWORD ignored = 0;
    if (::WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0 ||
        !::GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, FALSE)) {
      return false;
    }
    connected_ = true;
    pending_ = false;
    ::ResetEvent(event_.get());
  }
  ULONG client = 0;
  if (!::GetNamedPipeClientProcessId(pipe_.get(), &client) || client != runProcessId) {
    // Someone else got there first: whatever it writes is not an answer.
    refused_ = true;
    ::DisconnectNamedPipe(pipe_.get());
    return false;
  }
  return true;
}

// Asks the platform to start this program elevated: the consent prompt, or
// the prompt for an administrator's password, comes up now and stays as long
// as the user likes. Wide throughout: the program may lie in a folder whose
// name the ANSI code page cannot spell.
bool StartElevated(const WCHAR* path, const WCHAR* parameters, HANDLE* process) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.hwnd = ::GetActiveWindow();
  execute.lpVerb = L"runas";
  execute.lpFile = path;
  execute.lpParameters = parameters;
  execute.nShow = SW_HIDE;
  BOOL started = ::ShellExecuteExW(&execute);
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

bool AnswerReady(void* pipe, DWORD runProcessId) { return static_cast<AnswerPipe*>(pipe)->Ready(runProcessId); }

// The file this process was started from, in full: the ANSI form would spell
// a character outside the code page as '?', and a path may be longer than
// MAX_PATH.
bool OwnPath(unique_malloc<WCHAR[]>& path) {
  for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 2) {
    path.reset(static_cast<WCHAR*>(std::malloc(capacity * sizeof(WCHAR))));
    if (!path) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    const DWORD length = ::GetModuleFileNameW(nullptr, path.get(), capacity);
    if (length == 0) return false;
    if (length < capacity) return true;
  }
  ::SetLastError(ERROR_BUFFER_OVERFLOW);
  return false;
}

// The parameters are ASCII, so each byte is its own character.
bool Widen(const helper::Text& text, WCHAR (&wide)[64]) {
  if (text.size() >= 64) return false;
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text.data()[i]);
  wide[text.size()] = L'\0';
  return true;
}

}  // namespace

BOOL RunElevatedSwitch(int32_t mode, DeviceHelperRun* run) {
  if (run == nullptr || (mode != 0 && mode != 1)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = DeviceHelperRun{};
  unique_malloc<WCHAR[]> path;
  char name[helper::kAnswerPipeNameSize];
  AnswerPipe answer;
  if (!OwnPath(path) || !NewPipeName(name) || !answer.Create(name)) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  helper::Text parameters;
  helper::WriteSwitchParameters(parameters, mode, name);
  WCHAR wideParameters[64];
  if (!parameters.ok() || !Widen(parameters, wideParameters)) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  HANDLE started = nullptr;
  if (!StartElevated(path.get(), wideParameters, &started)) return FALSE;
  unique_kernel_handle process(started);
  AnswerChannel channel;
  channel.pipe = answer.pipe();
  channel.overlapped = answer.overlapped();
  channel.ready = AnswerReady;
  channel.context = &answer;
  // A run that never ends must not keep the panel, hidden, for ever; what it
  // still writes goes nowhere once the pipe is gone. It is ended where the
  // handle Windows gave allows that.
  if (!AwaitHelper(process.get(), channel, run, kElevatedRunWait)) {
    run->timedOut = true;
    run->exitCode = WAIT_TIMEOUT;
    ::TerminateProcess(process.get(), WAIT_TIMEOUT);
  } else if (!::GetExitCodeProcess(process.get(), &run->exitCode)) {
    run->exitCode = ERROR_PROCESS_ABORTED;
  }
  return TRUE;
}

}  // namespace platform
