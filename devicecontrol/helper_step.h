// A step of state changes through the 64-bit device helper, where this
// process may not change device states (a 32-bit process on 64-bit Windows).
#pragma once

#include <cstddef>

#include "devicecontrol/device_step.h"

namespace devicecontrol {

// How the helper's part of a step went.
enum class RunOutcome {
  NotNeeded,   // nothing to hand to it
  Answered,    // it answered for every device
  Failed,      // it ran, but its answer is missing or wrong: every device it had reads "Fail"
  NotStarted,  // it did not start
  TimedOut,    // it was ended at its limit: what it did is not known, and every device it had reads "Fail"
};

// One helper run for the whole step: every device of every batch that must
// change, batch after batch; then one status line per selected device (one
// that needed no change reads as done).
RunOutcome ChangeThroughHelper(StateChangeBatch* batches, std::size_t count);

}  // namespace devicecontrol
