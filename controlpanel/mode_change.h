// A change of the driver mode, as the dialog's OK and the command line's
// --mode make it alike, and the switch that an opening retries: where the
// mode is stored, the preferred sound devices moved, the functions switched.
#pragma once

#include "drivermode/mode_switch.h"

namespace controlpanel {

// Stores the mode where this process may: `storeAllowed` is false while
// registry virtualization would keep the write to the user's own copy.
// False when it is not stored.
bool StoreMode(drivermode::DriverMode mode, bool storeAllowed);

// With an administrator's rights, switches the functions here (or through
// the device helper); without them, the panel's elevated run does, and
// stores the mode. `storeAlone`: storing the mode is reason enough to start
// that run; otherwise only a function that must change is.
drivermode::SwitchOutcome Switch(drivermode::DriverMode mode, bool storeAlone);

// The mode in force switched again, and stored again where it may be: what
// an opening does, and --mode for the mode already stored. Shows nothing.
drivermode::SwitchOutcome Reapply(drivermode::DriverMode mode, bool storeAllowed);

struct ModeChange {
  drivermode::DriverMode mode = drivermode::WDM;
  bool changed = false;     // differs from the mode in force
  bool storeInRun = false;  // without the rights: the elevated run stores it, after the consent
  bool stored = false;
};

// A change's first half: stores `selected` here unless the elevated run
// will, and when it differs from `current`, moves the user's preferred
// sound devices off the direct device (the user's own settings: always
// here, never in an elevated run that may run as another administrator).
ModeChange BeginModeChange(drivermode::DriverMode selected, int current, bool storeAllowed);

// Its second half, for a changed mode: the switch, in which storing the mode
// is reason enough for the elevated run; `change.stored` says at the end
// whether it is stored.
drivermode::SwitchOutcome FinishModeChange(ModeChange& change);

}  // namespace controlpanel
