// Starting the control panel's own elevated run and collecting its answer.
// A link seam, as platform/ is: the shipped panel links the Win32
// realisation (win32/), the unit tests the simulated machine, which
// describes the consent the user gives or not and runs the elevated run in
// its place.
#pragma once

#include <windows.h>

#include "drivermode/mode_store.h"
#include "helperrun/device_helper_run.h"
#include "helperrun/process_run.h"

namespace elevation {

// How long the panel waits for its elevated run once it has started. The
// consent prompt itself may stay up as long as the user likes.
constexpr DWORD kElevatedRunWait = 2 * 60 * 1000;
static_assert(helperrun::kDeviceStepHelperWait + 20 * 1000 <= kElevatedRunWait,
              "the elevated run's helper ends, and the run answers, before the panel gives up");

// Starts this program's own file again through the platform's elevation
// request (Windows asks for consent, or for an administrator's password,
// right then, and names the program and its publisher) with the command line
// of elevation_protocol.h, and collects what the run answers through that
// pipe, which only an administrator's process may write and whose client
// must be that run. TRUE once the run has ended, or was given up after
// kElevatedRunWait (timedOut and exit code WAIT_TIMEOUT then, and it is ended
// where Windows lets the panel), whatever it answered; FALSE, with the last
// error, when it did not start: ERROR_CANCELLED when the user said no.
// Release the output with helperrun::FreeProcessRun.
BOOL RunElevated(drivermode::DriverMode mode, helperrun::ProcessRun* run);

}  // namespace elevation
