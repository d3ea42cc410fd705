// A list of pattern arguments read as the selection it describes: the
// optional class selector, select-all, the parsed patterns, and what the
// device set must hold for them. No platform headers: built natively too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devicecontrol/device_pattern.h"

struct Selection {
  const char* className = nullptr;  // "=<class>" first: the name (borrowed)
  bool all = false;                 // nothing left after the class, or a lone "*" next
  DevicePattern* patterns = nullptr;  // the rest, parsed (owned; see FreeSelection)
  int32_t count = 0;
  // A pattern must be tested against each device: one with a wildcard, or
  // one matched against hardware and compatible IDs. Without, the devices
  // named by literal instance IDs are the selection.
  bool matching = false;
  // Every pattern an instance-ID pattern that begins with this literal
  // enumerator ("USB" of "@USB\VID_7E51&PID_0002&MI_00\*"): only devices of
  // that enumerator can match, so the set need hold no others. Null when
  // any pattern could match elsewhere. Borrowed from the first pattern.
  const char* enumerator = nullptr;
  std::size_t enumeratorLength = 0;
};

// Reads `count` pattern arguments (none null). False only when the pattern
// table cannot be allocated.
bool ParseSelection(int32_t count, const char* const* args, Selection* out);
void FreeSelection(Selection* selection);

// Whether a pattern names one device by its instance ID, so that the device
// is opened by that name (whatever the set holds otherwise).
inline bool NamesOneDevice(const DevicePattern& pattern) {
  return pattern.isInstanceIdPattern != 0 && pattern.firstWildcard == nullptr;
}

// Whether two selections need the same device set (one walk serves both).
bool SameSet(const Selection& a, const Selection& b);
