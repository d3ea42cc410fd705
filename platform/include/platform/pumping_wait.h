// Waiting for a process or thread while this thread's window messages go on:
// on the calling thread of an installation program, windows of its own and
// the callbacks of a hook it installed must not stop; on the control panel's
// thread, its dialog stays drawn. Plain Win32, the same in every build
// (platform/common/, linked by every target that uses the platform).
#pragma once

#include <windows.h>

namespace platform {

// How often a wait looks again: for output to read, for a file to go.
constexpr DWORD kPollMilliseconds = 50;

// Waits until `handle` is signalled or `limit` milliseconds have passed
// (INFINITE: no limit), calling `tick(context)` (when given) every
// kPollMilliseconds and once more at the end, and dispatching this thread's
// messages meanwhile. A quit message is kept for the caller's own loop and
// posted again at the end. False when the limit passed first.
bool WaitPumpingMessages(HANDLE handle, DWORD limit, void (*tick)(void*) = nullptr, void* context = nullptr);

}  // namespace platform
