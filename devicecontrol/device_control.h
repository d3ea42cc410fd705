// The device control engine: selects devices by class, hardware-ID,
// compatible-ID and instance-ID patterns and enables or disables them, one
// status line per device on standard output.
#pragma once

#include <cstdint>

#include "device_pattern.h"
#include "platform/device_setup.h"

// Called for every selected device. 0 continues the walk; any other value
// stops it and becomes the result of ForEachMatchingDevice. The set and
// element are valid only during the call.
using DeviceCallback = int32_t (*)(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index,
                                   void* context);

enum DeviceEnumResult : int32_t {
  Success = 0,     // the walk reached the end (or the class name denotes no class)
  Failure = 2,     // a class lookup, set build, set detail read or allocation failed
  NoPatterns = 3,  // count was 0: nothing built, nothing called
};

class CDeviceControl {
 public:
  // Pattern text logic.
  static DevicePattern ParseDevicePattern(const char* pattern) {
    return idtext::ParseDevicePattern(pattern);
  }
  static bool MatchIdPattern(const char* id, const DevicePattern& pattern) {
    return idtext::MatchIdPattern(id, pattern);
  }
  static IdList SplitMultiString(char* buffer) { return idtext::SplitMultiString(buffer); }
  static void FreeIdList(IdList list) { idtext::FreeIdList(list); }
  static bool MatchAnyId(IdList list, const DevicePattern& pattern) {
    return idtext::MatchAnyId(list, pattern);
  }

  // SPDRP_HARDWAREID or SPDRP_COMPATIBLEIDS of one device as a list; null when
  // absent or unreadable. The caller frees it with FreeIdList.
  IdList ReadDeviceIdList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property);

  // Builds a device set and calls callback(set, element, index, context) for
  // every device the pattern arguments select. Arguments: an optional class
  // selector "=<class>" first, then "*" (or nothing) to select all, then
  // device patterns. Returns a DeviceEnumResult or a callback's nonzero value.
  int32_t ForEachMatchingDevice(const char* machineName, DWORD flags, int32_t count,
                                const char* const* patterns, DeviceCallback callback,
                                void* context);

  // Switch every present device the patterns select; one status line each.
  // When `outcome` is given, it receives the call's context as it ended: how
  // many devices were selected, changed, and whether one needs a restart.
  int32_t EnableDevices(int32_t count, const char* const* patterns,
                        struct DeviceStateChangeContext* outcome = nullptr);
  int32_t DisableDevices(int32_t count, const char* const* patterns,
                         struct DeviceStateChangeContext* outcome = nullptr);
};

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

// The DeviceCallback of EnableDevices and DisableDevices; always returns 0.
int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void* context);

// Device instance IDs, terminator included.
constexpr ULONG kInstanceIdSize = 200;

// The device's instance ID; false (and an empty text) when it cannot be read.
bool ReadInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, char (&id)[kInstanceIdSize]);

// Writes "<instance ID padded to 60>: <word>\n" (or "<ID>\n" without a word)
// to standard output; "?" stands for an ID that cannot be read, and the
// result is then false.
bool PrintDeviceStatus(HDEVINFO set, PSP_DEVINFO_DATA element, const char* word);
// The same line for a device known by its instance ID.
void PrintStatusLine(const char* id, const char* word);
