// Waiting for a started program: the device helper, or the control panel's
// elevated run.
#include "helperrun/process_run.h"

#include <cstring>

#include "platform/pumping_wait.h"

namespace helperrun {

namespace {

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

}  // namespace

bool AwaitProcess(HANDLE process, const OutputChannel& output, ProcessRun* run, DWORD limit) {
  struct Reading {
    const OutputChannel& output;
    ProcessRun* run;
    std::size_t capacity;
    DWORD processId;
  } reading{output, run, 0, ::GetProcessId(process)};
  return platform::WaitPumpingMessages(process, limit, [](void* context) {
    auto& r = *static_cast<Reading*>(context);
    if (r.output.ready == nullptr || r.output.ready(r.output.context, r.processId)) {
      Drain(r.output.pipe, r.output.overlapped, r.run, &r.capacity);
    }
  }, &reading);
}

}  // namespace helperrun
