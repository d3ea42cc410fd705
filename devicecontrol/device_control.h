// The device control engine: selects devices by class, hardware-ID,
// compatible-ID and instance-ID patterns and enables or disables them, one
// status line per device (device_status.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "devicecontrol/device_pattern.h"
#include "platform/device_setup.h"
#include "platform/unique_handle.h"

// What one device of a walk says of itself, each read at most once however
// many patterns and lists ask: its instance ID (empty when unreadable), and
// its hardware and compatible IDs.
class DeviceIds {
 public:
  DeviceIds(HDEVINFO set, PSP_DEVINFO_DATA element, HMACHINE machine) : set_(set), element_(element), machine_(machine) {}
  ~DeviceIds();
  DeviceIds(const DeviceIds&) = delete;
  DeviceIds& operator=(const DeviceIds&) = delete;

  const char* InstanceId();
  bool AnyIdMatches(const DevicePattern& p);

 private:
  HDEVINFO set_;
  PSP_DEVINFO_DATA element_;
  HMACHINE machine_;
  bool idRead_ = false;
  bool listsRead_ = false;
  char id_[200];
  IdList hardware_ = nullptr;
  IdList compatible_ = nullptr;
};

// One list of pattern arguments (see ForEachMatchingDevice).
struct PatternList {
  int32_t count;
  const char* const* patterns;
};

// Called for every selected device. 0 continues the walk; any other value
// stops it and becomes the result of ForEachMatchingDevice. The set and
// element are valid only during the call.
using DeviceCallback = int32_t (*)(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void* context);

struct DeviceStateChangeContext;

class CDeviceControl {
 public:
  // The results of ForEachMatchingDevice other than a callback's own.
  enum DeviceEnumResult : int32_t {
    Success = 0,     // the walk reached the end (or the class name denotes no class)
    Failure = 2,     // a class lookup, set build, set detail read or allocation failed
    NoPatterns = 3,  // count was 0: nothing built, nothing called
  };

  // Pattern text logic.
  static DevicePattern ParseDevicePattern(const char* pattern) { return idtext::ParseDevicePattern(pattern); }
  static bool MatchIdPattern(const char* id, const DevicePattern& pattern) {
    return idtext::MatchIdPattern(id, pattern);
  }
  static IdList SplitMultiString(char* buffer) { return idtext::SplitMultiString(buffer); }
  static void FreeIdList(IdList list) { idtext::FreeIdList(list); }
  static bool MatchAnyId(IdList list, const DevicePattern& pattern) { return idtext::MatchAnyId(list, pattern); }

  // SPDRP_HARDWAREID or SPDRP_COMPATIBLEIDS of one device as a list; null when
  // absent or unreadable. The caller frees it with FreeIdList.
  IdList ReadDeviceIdList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property);

  // Builds a device set and calls callback(set, element, index, context) for
  // every device the pattern arguments select. Arguments: an optional class
  // selector "=<class>" first, then "*" (or nothing) to select all, then
  // device patterns. Returns a DeviceEnumResult or a callback's nonzero value.
  int32_t ForEachMatchingDevice(const char* machineName, DWORD flags, int32_t count, const char* const* patterns,
                                DeviceCallback callback, void* context);

  // Several lists in one walk: a device set is built once for each run of
  // lists one set can hold alike (no class selector, the same enumerator, or
  // all devices), and each device's IDs are read once, whichever list asks.
  // visit(set, element, index, which list, its IDs, context) for each device and
  // each list that selects it, in set order; its nonzero result ends that
  // walk. results[i] receives each list's result, as ForEachMatchingDevice
  // gives it. Returns the set of the last walk, kept for the caller (the
  // elements the visits saw stay valid with it when OneSetServes said so).
  static constexpr std::size_t kMaxPatternLists = 2;
  using ListVisitor = int32_t (*)(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, std::size_t which,
                                  DeviceIds& ids, void* context);
  platform::unique_hdevinfo WalkPatternLists(const char* machineName, DWORD flags, const PatternList* lists,
                                             std::size_t count, int32_t* results, ListVisitor visit, void* context);
  // Whether one set serves all the lists (then one walk covers them).
  static bool OneSetServes(const PatternList* lists, std::size_t count);

  // Switch every present device the patterns select, one status line each,
  // on the route this process's bitness calls for (state_change_step.h).
  // When `outcome` is given, it receives the call's context as it ended: how
  // many devices were selected, changed, and whether one needs a restart.
  int32_t EnableDevices(int32_t count, const char* const* patterns, DeviceStateChangeContext* outcome = nullptr);
  int32_t DisableDevices(int32_t count, const char* const* patterns, DeviceStateChangeContext* outcome = nullptr);
};
