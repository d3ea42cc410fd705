// What OK leads to once a changed mode's switch is through: a log-off, a
// failure report, or neither. A plain function of the switch's outcome, so
// it is tested without windows (no platform headers).
#pragma once

#include "drivermode/mode_switch.h"

namespace controlpanel {

struct AfterSwitch {
  bool logOff = false;
  bool report = false;  // a failure box with `text`
  char text[1024] = {};
};

// A log-off only once the mode is in force and stored for the next start,
// and only when the user answered the prompt with OK. Otherwise, a failure
// says what failed and what to do (the stored mode stays, so the next
// opening finishes the switch): that the switch did not finish in time (and
// may still go on), how many functions could not be switched, or that the
// mode could not be changed; then that consent is needed, that the elevated
// run could not be started (with the error), or that the mode could not be
// stored.
AfterSwitch DecideAfterSwitch(const drivermode::SwitchOutcome& outcome, bool stored, bool answeredOk);

}  // namespace controlpanel
