// Device identifier patterns and identifier lists: the text logic of device
// selection. No platform headers here, so it builds and is tested natively.
//
// Pattern syntax:
//   "@..."  matched against the device instance ID
//   "'..."  (first, or right after a leading "@") literal: compared whole, "*" is
//           an ordinary character
//   else    matched against every hardware ID and compatible ID
// In a non-literal pattern each "*" stands for any run of characters. Letter
// case is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace devicecontrol {

struct DevicePattern {
  const char* text;           // the pattern after its prefix characters (borrowed)
  const char* firstWildcard;  // first "*" of text; null for literal or star-free text
  int32_t isInstanceIdPattern;
};

// A list of identifiers: pointer to the first of the entry slots, ended by a
// null slot. The slot just before the first entry holds the multi-string
// buffer the entries point into; the list owns it. Null means "no list".
using IdList = char**;

// ASCII letters compared without case, whatever the process locale: whole
// texts, and `n` bytes of which `text` holds no terminator.
bool EqualText(const char* a, const char* b);
bool EqualBytes(const char* id, const char* text, std::size_t n);

DevicePattern ParseDevicePattern(const char* pattern);
bool MatchIdPattern(const char* id, const DevicePattern& pattern);

// Builds a list over a multi-string buffer allocated with malloc and takes
// ownership of it. The buffer must end in an empty string (two NULs); a null
// buffer gives an empty list. Returns null only when the slot array cannot be
// allocated; the buffer then still belongs to the caller.
IdList SplitMultiString(char* buffer);
// Frees the buffer (when the slot holds one) and the slots; null is a no-op.
void FreeIdList(IdList list);
bool MatchAnyId(IdList list, const DevicePattern& pattern);

// The character after the one at p, a double-byte character of the system
// code page counting as one; p itself when p is at the terminator.
const char* NextChar(const char* p);

// A list of pattern arguments read as the selection it describes (see
// ForEachMatchingDevice): the optional class selector, select-all, the
// parsed patterns, and what the device set must hold for them.
struct Selection {
  const char* className = nullptr;    // "=<class>" first: the name (borrowed)
  bool all = false;                   // nothing left after the class, or a lone "*" next
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

}  // namespace devicecontrol
