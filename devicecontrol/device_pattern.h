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

#include <cstdint>

struct DevicePattern {
  const char* text;           // the pattern after its prefix characters (borrowed)
  const char* firstWildcard;  // first "*" of text; null for literal or star-free text
  int32_t isInstanceIdPattern;
};

// A list of identifiers: pointer to the first of the entry slots, ended by a
// null slot. The slot just before the first entry holds the multi-string
// buffer the entries point into; the list owns it. Null means "no list".
using IdList = char**;

namespace idtext {

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

}  // namespace idtext
