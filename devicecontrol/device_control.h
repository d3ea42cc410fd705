// The device control engine: selects devices by class, hardware-ID,
// compatible-ID and instance-ID patterns (device_pattern.h, device_walk.h)
// and enables or disables them in this process (state_change.h), one status
// line per device (device_status.h). A whole step of a mode's switch, and the
// route it takes, is device_step.h's and helper_step.h's; which route is
// decided above the engine.
#pragma once

#include <cstdint>

#include "devicecontrol/device_pattern.h"
#include "devicecontrol/device_walk.h"
#include "devicecontrol/state_change.h"

namespace devicecontrol {

// Called for every selected device. 0 continues the walk; any other value
// stops it and becomes the result of ForEachMatchingDevice. The set and
// element are valid only during the call.
using DeviceCallback = int32_t (*)(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void* context);

class CDeviceControl {
 public:
  // The results of ForEachMatchingDevice other than a callback's own.
  static constexpr int32_t Success = devicecontrol::Success;
  static constexpr int32_t Failure = devicecontrol::Failure;
  static constexpr int32_t NoPatterns = devicecontrol::NoPatterns;

  // Builds a device set and calls callback(set, element, index, context) for
  // every device the pattern arguments select (PatternList). Returns a
  // DeviceEnumResult or a callback's nonzero value.
  int32_t ForEachMatchingDevice(const char* machineName, DWORD flags, int32_t count, const char* const* patterns,
                                DeviceCallback callback, void* context);

  // Switch every present device the patterns select, in this process, one
  // status line each (ApplyStateChange). When `outcome` is given, it receives
  // the call's context as it ended: how many devices were selected, changed,
  // and whether one needs a restart.
  int32_t EnableDevices(int32_t count, const char* const* patterns, DeviceStateChangeContext* outcome = nullptr);
  int32_t DisableDevices(int32_t count, const char* const* patterns, DeviceStateChangeContext* outcome = nullptr);
};

}  // namespace devicecontrol
