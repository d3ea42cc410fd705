// The Norza's USB functions of each driver mode, as instance-ID patterns: the
// control panel switches them, and its elevated run selects them itself.
#pragma once

#include "devicecontrol/device_step.h"
#include "drivermode/mode_store.h"

namespace drivermode {

extern const char* const WdmInterfacePatterns[2];   // functions 0 and 3
extern const char* const AsioInterfacePatterns[1];  // function 8

// The step that puts the Norza in `mode`: the mode's own functions enabled
// first, then the other mode's disabled.
void ModeStep(DriverMode mode, devicecontrol::StateChangeBatch (&batches)[2]);

}  // namespace drivermode
