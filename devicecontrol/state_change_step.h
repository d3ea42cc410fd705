// Where a step of state changes runs, by this process's bitness: changing a
// device's state needs a process of the machine's bitness, so a 32-bit
// process on 64-bit Windows hands it to the 64-bit helper. (Without an
// administrator's rights, the control panel's elevated run takes one of
// these routes: that is decided above the engine.)
#pragma once

#include <cstddef>

#include "devicecontrol/handed_over.h"
#include "devicecontrol/state_change.h"

// Changes the batches in order, one status line per selected device in the
// walk's order, batch after batch: in this process, or through one helper run
// for the whole step. Either way the step is given up after
// helperrun::kDeviceStepHelperWait: false then, and what became of the
// devices not reported as changed is not known.
bool ChangeDeviceStates(StateChangeBatch* batches, std::size_t count);
