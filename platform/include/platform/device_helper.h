// The 64-bit device helper, as the 32-bit programs reach it. On 64-bit
// Windows a 32-bit process may not change device states or update drivers
// (ERROR_IN_WOW64); it hands those steps to a 64-bit helper that it carries
// inside itself. Routed here so that a test can describe a machine that
// refuses them, and how the helper run goes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace platform {

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);

// Whether this is a 32-bit process on 64-bit Windows: asked of the platform,
// never found out by failing first.
inline bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return platform::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// Whether the 64-bit helper can run here: on 64-bit Windows, whichever
// bitness this program has.
inline bool HelperCanRun() { return sizeof(void*) == 8 || RunsUnderWow64(); }

// More than this on its standard output is not an answer of the helper's.
constexpr std::size_t kMaxDeviceHelperOutput = 1 << 20;

// What one run of the helper gave.
struct DeviceHelperRun {
  DWORD exitCode = 0;
  char* output = nullptr;  // what it wrote to its standard output (C heap)
  std::size_t outputSize = 0;
  bool outputTruncated = false;  // it wrote more than kMaxDeviceHelperOutput
};

// Writes the helper that this binary carries into a new folder that no other
// user can change, starts it with `request` on its standard input, collects
// its standard output until it has ended (this thread's messages are pumped
// meanwhile), and removes it again. TRUE once it has ended, whatever its exit
// code; FALSE, with the thread's last error, when it could not be written or
// started. Release the output with FreeDeviceHelperRun.
BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DeviceHelperRun* run);

// The same through the platform's elevation request, for a process without an
// administrator's rights: Windows asks the user for consent (or for an
// administrator's password) right then. The helper inherits nothing from this
// process, so the request travels on its command line and the answer comes
// back through a pipe that only this run of the helper may write. FALSE, with
// the last error, when it did not start: ERROR_CANCELLED when the user said no.
BOOL RunDeviceHelperElevated(const char* request, std::size_t requestSize, DeviceHelperRun* run);
void FreeDeviceHelperRun(DeviceHelperRun* run);

}  // namespace platform
