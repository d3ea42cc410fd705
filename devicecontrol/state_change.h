// Enabling and disabling devices in this process, through the class
// installer's property-change request; the state changes of a step, in
// batches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device_setup.h"

// The state change requested of every selected device, and what came of it.
struct DeviceStateChangeContext {
  uint32_t devicesChanged;
  DWORD stateChange;  // DICS_ENABLE or DICS_DISABLE
  uint32_t restartRequired;
  const char* doneText;
  const char* restartText;
  const char* failText;
  uint32_t devicesSelected;  // every device the walk handed over, whatever came of it
};

// A fresh context for DICS_ENABLE or DICS_DISABLE, with the status words.
DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange);

// Whether the platform reports the device as already in the state asked for:
// running without a problem, or disabled. A state it cannot tell is not.
bool AlreadyInState(PSP_DEVINFO_DATA element, DWORD stateChange);

// The DeviceCallback of a state change; always returns 0. A device already in
// the state asked for is not changed again and reads as done.
int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void* context);
// The same for a device whose instance ID is known ("" when unreadable).
void ChangeState(HDEVINFO set, PSP_DEVINFO_DATA element, const char* id, DeviceStateChangeContext* change);

// A step enables one mode's functions, then disables the other's.
constexpr std::size_t kMaxStepBatches = 2;

// One batch of a step: the devices its patterns select get `stateChange`.
struct StateChangeBatch {
  int32_t count;
  const char* const* patterns;
  DWORD stateChange;
  DeviceStateChangeContext outcome;  // filled by the step
  int32_t result;                    // of the walk, as ForEachMatchingDevice gives it
};

// Readies the batches' outcomes for a step; each runner begins its step so.
void BeginStep(StateChangeBatch* batches, std::size_t count);

// The step in this process: batch after batch, one status line per selected
// device in the walk's order. A class installer's call may never return: the
// step runs on a thread of its own, for at most `limit` milliseconds, while
// this thread's messages go on. False when the limit cut it short: then what
// became of the devices it did not report is not known (the outcomes are
// empty), and it prints no more; the process is expected to end before long,
// and that thread with it.
bool ChangeInProcess(StateChangeBatch* batches, std::size_t count, DWORD limit);
