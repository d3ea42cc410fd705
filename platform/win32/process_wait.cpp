// Waiting for a started program: the device helper, or the control panel's
// elevated run.
#include "platform/process_run.h"

#include <cstring>

namespace platform {

namespace {

constexpr DWORD kPollMilliseconds = 50;

// Takes what the pipe holds now, without waiting for more.
void Drain(HANDLE pipe, OVERLAPPED* overlapped, ProcessRun* run, std::size_t* capacity) {
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
    const std::size_t room = kMaxProcessOutput - run->outputSize;
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
// own loop and handed back once the process has ended.
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

bool AwaitProcess(HANDLE process, const OutputChannel& output, ProcessRun* run, DWORD limit) {
  std::size_t capacity = 0;
  bool quit = false;
  bool ended = true;
  WPARAM quitCode = 0;
  const DWORD processId = ::GetProcessId(process);
  const ULONGLONG started = ::GetTickCount64();
  auto drain = [&] {
    if (output.ready == nullptr || output.ready(output.context, processId)) {
      Drain(output.pipe, output.overlapped, run, &capacity);
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

}  // namespace platform
