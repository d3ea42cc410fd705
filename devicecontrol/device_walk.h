// The walk over the platform's devices: a device set built for one or more
// selections (devicecontrol/device_pattern.h), and each device it selects
// handed to a visitor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devicecontrol/device_pattern.h"
#include "devicecontrol/device_status.h"
#include "platform/device_setup.h"
#include "platform/unique_handle.h"

namespace devicecontrol {

// The results of a walk other than a visitor's own.
enum DeviceEnumResult : int32_t {
  Success = 0,     // the walk reached the end (or the class name denotes no class)
  Failure = 2,     // a class lookup, set build, set detail read or allocation failed
  NoPatterns = 3,  // the list was empty: nothing built, nothing called
};

// SPDRP_HARDWAREID or SPDRP_COMPATIBLEIDS of one device as a list; null when
// absent or unreadable. The caller frees it with FreeIdList.
IdList ReadDeviceIdList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property);

// What one device of a walk says of itself, each read at most once however
// many patterns and lists ask: its instance ID (empty when unreadable), and
// its hardware and compatible IDs.
class DeviceIds : platform::noncopyable {
 public:
  DeviceIds(HDEVINFO set, PSP_DEVINFO_DATA element, HMACHINE machine) : set_(set), element_(element), machine_(machine) {}
  ~DeviceIds();

  const char* InstanceId();
  bool AnyIdMatches(const DevicePattern& p);

 private:
  HDEVINFO set_;
  PSP_DEVINFO_DATA element_;
  HMACHINE machine_;
  bool idRead_ = false;
  bool listsRead_ = false;
  char id_[kInstanceIdSize];
  IdList hardware_ = nullptr;
  IdList compatible_ = nullptr;
};

// One list of pattern arguments: an optional class selector "=<class>"
// first, then "*" (or nothing) to select all, then device patterns.
struct PatternList {
  int32_t count;
  const char* const* patterns;
};

// Several lists in one walk: a device set is built once for each run of
// lists one set can hold alike (no class selector, the same enumerator, or
// all devices), and each device's IDs are read once, whichever list asks.
// visit(set, element, index, which list, its IDs, context) for each device
// and each list that selects it, in set order; its nonzero result ends that
// walk. results[i] receives each list's DeviceEnumResult, or the visitor's
// nonzero one. Returns the set of the last walk, kept for the caller (the
// elements the visits saw stay valid with it when OneSetServes said so).
constexpr std::size_t kMaxPatternLists = 2;
using ListVisitor = int32_t (*)(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, std::size_t which,
                                DeviceIds& ids, void* context);
platform::unique_hdevinfo WalkPatternLists(const char* machineName, DWORD flags, const PatternList* lists,
                                           std::size_t count, int32_t* results, ListVisitor visit, void* context);
// Whether one set serves all the lists (then one walk covers them).
bool OneSetServes(const PatternList* lists, std::size_t count);

}  // namespace devicecontrol
