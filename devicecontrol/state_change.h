// Enabling and disabling one device through the class installer's
// property-change request, and what the walk of a state change counts.
#pragma once

#include <cstdint>

#include "devicecontrol/device_status.h"
#include "platform/device_setup.h"
#include "wire/status_line.h"

namespace devicecontrol {

// The state change requested of every selected device, and what came of it.
struct DeviceStateChangeContext {
  uint32_t devicesChanged;
  DWORD stateChange;  // DICS_ENABLE or DICS_DISABLE
  uint32_t restartRequired;
  uint32_t devicesSelected;  // every device the walk handed over, whatever came of it
  uint32_t firstError;       // the platform's error of the first device that failed (0: none did)
};

// A fresh context for DICS_ENABLE or DICS_DISABLE.
inline DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange) {
  return DeviceStateChangeContext{0, stateChange, 0, 0, 0};
}

// Whether the platform reports the device as already in the state asked for:
// running without a problem, or disabled. A state it cannot tell is not.
bool AlreadyInState(PSP_DEVINFO_DATA element, DWORD stateChange);

// The device's state in a word, as a status command shows it: "enabled"
// (running without a problem), "disabled", "problem <code>" (the code
// Device Manager shows), "stopped", or "unknown" when the platform cannot
// tell.
void DescribeState(PSP_DEVINFO_DATA element, wire::Text* word);

// Changes one device (`id` as read, "" when it could not be) and says what
// came of it; prints nothing. A device already in the state asked for is
// not changed again and reads as done.
wire::DeviceOutcome ChangeState(HDEVINFO set, PSP_DEVINFO_DATA element, const char* id, DWORD stateChange);

// Prints an outcome's line and counts it into the context.
void Record(const wire::DeviceOutcome& outcome, DeviceStateChangeContext* context);

// The DeviceCallback of a state change: ChangeState and Record; always
// returns 0.
int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void* context);

}  // namespace devicecontrol
