// The control panel without an administrator's rights asks consent for
// itself: it starts its own file through the platform's elevation request,
// so the prompt names the panel and its publisher, and the elevated run is
// told nothing but the mode and the answer pipe. The installer library,
// which never asks for consent, carries none of this.
#include "elevation/run_start.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>

#include "elevation/win32/answer_pipe.h"
#include "elevation/elevation_protocol.h"
#include "helperrun/process_run.h"
#include "platform/random.h"
#include "platform/unique_handle.h"

namespace elevation {

namespace {

// The answer pipe's prefix and 16 random hexadecimal digits: unguessable, so
// nobody can make it before the panel does.
bool NewPipeName(char (&name)[kAnswerPipeNameSize]) {
  unsigned long long random = 0;
  if (!platform::RandomBytes(&random, sizeof random)) return false;
  MakeAnswerPipeName(random, name);
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
bool OwnPath(platform::unique_malloc<WCHAR[]>& path) {
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
bool Widen(const wire::Text& text, WCHAR (&wide)[64]) {
  if (text.size() >= 64) return false;
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text.data()[i]);
  wide[text.size()] = L'\0';
  return true;
}

}  // namespace

BOOL RunElevated(drivermode::DriverMode mode, helperrun::ProcessRun* run) {
  if (run == nullptr || (mode != drivermode::WDM && mode != drivermode::ASIO)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *run = helperrun::ProcessRun{};
  platform::unique_malloc<WCHAR[]> path;
  char name[kAnswerPipeNameSize];
  AnswerPipe answer;
  if (!OwnPath(path) || !NewPipeName(name) || !answer.Create(name)) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  wire::Text parameters;
  Command command;
  command.mode = mode;
  command.answerPipe = name;
  WriteCommandLine(parameters, command);
  WCHAR wideParameters[64];
  if (!parameters.ok() || !Widen(parameters, wideParameters)) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  HANDLE started = nullptr;
  if (!StartElevated(path.get(), wideParameters, &started)) return FALSE;
  platform::unique_kernel_handle process(started);
  helperrun::OutputChannel channel;
  channel.pipe = answer.pipe();
  channel.overlapped = answer.overlapped();
  channel.ready = AnswerReady;
  channel.context = &answer;
  // A run that never ends must not keep the panel, hidden, for ever; what it
  // still writes goes nowhere once the pipe is gone. It is ended where the
  // handle Windows gave allows that (and its helper with it); where not, the
  // panel says that it may still be switching.
  if (!helperrun::AwaitProcess(process.get(), channel, run, kElevatedRunWait)) {
    run->timedOut = true;
    run->exitCode = WAIT_TIMEOUT;
    run->stillRunning = !::TerminateProcess(process.get(), WAIT_TIMEOUT);
  } else if (!::GetExitCodeProcess(process.get(), &run->exitCode)) {
    run->exitCode = ERROR_PROCESS_ABORTED;
  }
  return TRUE;
}

}  // namespace elevation
