// A step of state changes through the 64-bit device helper, where this
// process may not change device states (a 32-bit process on 64-bit Windows).
#pragma once

#include <cstddef>

#include "devicecontrol/handed_over.h"
#include "devicecontrol/state_change.h"

// One helper run for the whole step: every device of every batch that must
// change, batch after batch; one status line per selected device.
RunOutcome ChangeThroughHelper(StateChangeBatch* batches, std::size_t count);
