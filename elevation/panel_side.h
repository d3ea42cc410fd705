// The panel's side of its elevated run: a mode's switch, for a panel without
// an administrator's rights, in one elevated run (one consent for the whole
// step).
#pragma once

#include "drivermode/mode_switch.h"

namespace elevation {

// Selects the functions of `mode` here, as an ordinary switch does, and when
// one must change (or `storeAlone`: the mode is reason enough to store)
// starts the elevated run, which stores the mode, finds the same functions
// and switches them; then prints a line for each, as the run answered. A run
// that does not start or answer leaves every function that had to change
// reading "Fail", with why.
drivermode::SwitchOutcome SwitchInElevatedRun(drivermode::DriverMode mode, bool storeAlone);

}  // namespace elevation
