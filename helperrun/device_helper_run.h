// The 64-bit device helper, as the 32-bit programs run it. On 64-bit Windows
// a 32-bit process may not change device states or update drivers; it hands
// those steps to a 64-bit helper that it carries inside itself. A link seam,
// as platform/ is: the binaries link the Win32 realisation (win32/), the unit
// tests the simulated machine, which describes how the helper run goes.
#pragma once

#include <windows.h>

#include <cstddef>

#include "helperrun/process_run.h"

namespace helperrun {

// How long a helper may take. The control panel's device step ends well
// before the panel gives up on its elevated run, so that run always answers;
// an installation may take as long as a driver update with its class
// installers does.
constexpr DWORD kDeviceStepHelperWait = 90 * 1000;
constexpr DWORD kInstallHelperWait = 10 * 60 * 1000;

// Writes the helper that this binary carries into a new folder that only
// this caller's kind of token can change (an elevated caller's lies under the
// Windows temporary folder, which only administrators can change), starts it
// with this process's own rights and `request` on its standard input,
// collects its standard output until it has ended (this thread's messages
// are pumped meanwhile), and removes it again. The helper never runs with
// more rights than its caller. A helper still running after `limit`
// milliseconds is ended (timedOut). TRUE once it has ended, whatever its exit
// code; FALSE, with the thread's last error, when it could not be written or
// started. Release the output with helperrun::FreeProcessRun.
BOOL RunDeviceHelper(const char* request, std::size_t requestSize, DWORD limit, helperrun::ProcessRun* run);

}  // namespace helperrun
