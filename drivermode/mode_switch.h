// Switching the Norza's functions to a driver mode: what the control panel's
// dialog, its command line and its elevated run share. No platform headers,
// so what follows from an outcome can be decided, and tested, without
// windows.
#pragma once

#include <cstdint>

#include "drivermode/mode_store.h"

namespace devicecontrol {
struct StateChangeBatch;
}

namespace drivermode {

// What a mode's switch came to: the functions it handed to a state change,
// how many of those did not change and why the first did not, whether one
// waits for a restart; where it ran in the panel's elevated run, whether
// that run stored the mode, whether it lacked an administrator's consent,
// and why else it did not start.
struct SwitchOutcome {
  uint32_t selected = 0;
  uint32_t failed = 0;
  uint32_t firstError = 0;  // the platform's error of the first function that failed
  bool restart = false;     // a function waits for a restart
  bool stored = false;
  bool consentMissing = false;
  uint32_t startError = 0;
  bool unknown = false;       // a limit cut the switch short: whether the functions changed is not known
  bool stillRunning = false;  // and the elevated run that was switching could not be ended
  bool unlisted = false;      // a batch's devices could not be listed: `selected` lacks them
};

// Where a step of state changes runs, chosen in this one place: changing a
// device's state needs an administrator's rights and a process of the
// machine's bitness. With the rights, in this process, or through the 64-bit
// device helper for a 32-bit process on 64-bit Windows; without them, in the
// control panel's own elevated run (elevation/), which then chooses again.
enum class Route { InProcess, ThroughHelper, ThroughElevatedRun };
Route ChooseRoute();

// Enables the functions of `mode`, then disables the other mode's, as one
// step in this process or through the helper (never asking for consent):
// one status line per function. Cut short at its limit, the outcome is
// unknown.
SwitchOutcome ApplyDriverMode(DriverMode mode);

// How many functions the batches of a finished step selected and failed.
SwitchOutcome TallyStep(const devicecontrol::StateChangeBatch* batches, int count);

}  // namespace drivermode
