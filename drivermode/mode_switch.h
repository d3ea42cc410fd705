// Switching the Norza's functions to a driver mode: what the control panel's
// dialog and its elevated run share. No platform headers, so what follows
// from an outcome can be decided, and tested, without windows.
#pragma once

#include <cstdint>

// What a mode's switch came to: the functions it handed to a state change
// and how many of those did not change; where it ran in the panel's
// elevated run, whether that run stored the mode, whether it lacked an
// administrator's consent, and why else it did not start.
struct SwitchOutcome {
  uint32_t selected = 0;
  uint32_t failed = 0;
  bool stored = false;
  bool consentMissing = false;
  uint32_t startError = 0;
  bool unknown = false;       // a limit cut the switch short: whether the functions changed is not known
  bool stillRunning = false;  // and the elevated run that was switching could not be ended
};

// Enables the functions of `mode`, then disables the other mode's, as one
// step on the route this process's bitness calls for (never asking for
// consent): one status line per function. Cut short at its limit, the
// outcome is unknown.
SwitchOutcome ApplyDriverMode(int mode);

struct StateChangeBatch;
// How many functions the batches of a finished step selected and failed.
SwitchOutcome TallyStep(const StateChangeBatch* batches, int count);
