// Waiting for a started run, shared by the device helper's run and the
// control panel's elevated run.
#pragma once

#include <windows.h>

#include "platform/device_helper.h"

namespace platform {

// Where the helper's answer is read from: the read end of its standard
// output, or the answer pipe of an elevated run (opened for overlapped use,
// and read only once `ready` says the run itself is connected to it).
struct AnswerChannel {
  HANDLE pipe = nullptr;
  OVERLAPPED* overlapped = nullptr;
  bool (*ready)(void* context, DWORD helperProcessId) = nullptr;
  void* context = nullptr;
};

// Waits for the helper to end, reading its output as it comes (so it never
// blocks on a full pipe) and pumping messages: on the calling thread of an
// installation program, windows of its own and the callbacks of a hook it
// installed must go on. The end of the process, not of the pipe, ends the
// wait: a process the helper started could hold the pipe open. False when
// `limit` milliseconds passed first (INFINITE: no limit).
bool AwaitHelper(HANDLE process, const AnswerChannel& answer, DeviceHelperRun* run, DWORD limit = INFINITE);

}  // namespace platform
