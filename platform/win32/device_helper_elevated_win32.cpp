// Running the device helper through the platform's elevation request, for a
// control panel without an administrator's rights. Kept apart from the
// helper's ordinary run, so that the installer library, which never asks for
// consent, does not carry it.
#include "platform/device_helper.h"

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
// use, read only once the helper's own process is the one connected to it.
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
  // Whether the helper has connected; false for good once another process has.
  bool Ready(DWORD helperProcessId);
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

// "\\.\pipe\norza-" and 16 random hexadecimal digits.
bool NewPipeName(char (&name)[64]) {
  unsigned long long random = 0;
  if (!RtlGenRandom(&random, sizeof random)) return false;
  std::strcpy(name, "\\\\.\\pipe\\norza-");
  AppendHex(name, random);
  return true;
}

// Open to this user and to the administrators (the helper may run as another
// administrator, whose password the user typed), and to nobody else.
bool PipeSecurity(platform::unique_hlocal* descriptor) {
  unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  unique_malloc<TOKEN_USER> user = TokenUserOf(token.get());
  char* sid = nullptr;
  if (!user || !::ConvertSidToStringSidA(user->User.Sid, &sid)) return false;
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
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    pending_ = true;
  } else {
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
    pending_ = false;
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


bool AnswerReady(void* pipe, DWORD helperProcessId) { return static_cast<AnswerPipe*>(pipe)->Ready(helperProcessId); }

}  // namespace

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
  AnswerChannel channel;
  channel.pipe = answer.pipe();
  channel.overlapped = answer.overlapped();
  channel.ready = AnswerReady;
  channel.context = &answer;
  AwaitHelper(process.get(), channel, run);
  if (!::GetExitCodeProcess(process.get(), &run->exitCode)) run->exitCode = ERROR_PROCESS_ABORTED;
  return TRUE;
}

}  // namespace platform
