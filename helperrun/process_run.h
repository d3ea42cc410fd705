// A program another one starts and waits for, and what it wrote: the device
// helper a 32-bit program runs on 64-bit Windows, and the control panel's
// elevated run.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdlib>

namespace helperrun {

// More than this on its output is not an answer of ours.
constexpr std::size_t kMaxProcessOutput = 1 << 20;

// What one run gave.
struct ProcessRun {
  DWORD exitCode = 0;
  char* output = nullptr;  // what it wrote (C heap)
  std::size_t outputSize = 0;
  bool outputTruncated = false;  // it wrote more than kMaxProcessOutput
  bool timedOut = false;         // it outlived its limit (and was ended, where the caller may)
  bool stillRunning = false;     // it outlived its limit, and could not be ended
};

inline void FreeProcessRun(ProcessRun* run) {
  if (run == nullptr) return;
  std::free(run->output);
  *run = ProcessRun{};
}

// Where the output is read from: the read end of a started program's
// standard output, or a pipe it was told to write to (opened for overlapped
// use, and read only once `ready` says the program itself is connected to it).
struct OutputChannel {
  HANDLE pipe = nullptr;
  OVERLAPPED* overlapped = nullptr;
  bool (*ready)(void* context, DWORD processId) = nullptr;
  void* context = nullptr;
};

// Win32 realisation only (the simulated machine starts nothing): waits for
// `process` to end, reading its output as it comes (so it never blocks on a
// full pipe) and pumping this thread's messages: on the calling thread of an
// installation program, windows of its own and the callbacks of a hook it
// installed must go on. The end of the process, not of the pipe, ends the
// wait: a process it started could hold the pipe open. False when `limit`
// milliseconds passed first (INFINITE: no limit).
bool AwaitProcess(HANDLE process, const OutputChannel& output, ProcessRun* run, DWORD limit);

}  // namespace helperrun
