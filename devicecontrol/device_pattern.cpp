#include "devicecontrol/device_pattern.h"

#include <cstddef>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace devicecontrol {
namespace {

// Only ASCII letters fold: identifiers are ASCII, and the result must not
// depend on the process locale.
inline unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

}  // namespace

bool EqualText(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = Fold(*a);
    if (ca != Fold(*b)) return false;
    if (ca == 0) return true;
  }
}

// A terminator in `id` is a mismatch and stops the loop before it can read
// past it.
bool EqualBytes(const char* id, const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (Fold(id[i]) != Fold(text[i])) return false;
  }
  return true;
}

namespace {

// Step over the character at p, which is not the terminator. Lead bytes of
// double-byte characters are never ASCII, so only other bytes need the code
// page (and the call).
inline const char* Step(const char* p) {
  return static_cast<unsigned char>(*p) < 0x80 ? p + 1 : NextChar(p);
}

const char* FindStar(const char* p) {
  for (; *p != '\0'; p = Step(p)) {
    if (*p == '*') return p;
  }
  return nullptr;
}

// Leftmost character of s whose folded value is `folded`, on character
// boundaries only (a trail byte never starts a match).
const char* FindFolded(const char* s, unsigned char folded) {
  for (; *s != '\0'; s = Step(s)) {
    if (Fold(*s) == folded) return s;
  }
  return nullptr;
}

}  // namespace

DevicePattern ParseDevicePattern(const char* pattern) {
  DevicePattern result{pattern, nullptr, 0};
  const char* text = pattern;
  if (*text == '@') {
    result.isInstanceIdPattern = 1;
    text = NextChar(text);
  }
  if (*text == '\'') {
    result.text = NextChar(text);
    return result;
  }
  result.text = text;
  result.firstWildcard = FindStar(text);
  return result;
}

bool MatchIdPattern(const char* id, const DevicePattern& pattern) {
  if (pattern.firstWildcard == nullptr) return EqualText(id, pattern.text);

  const size_t prefixLen = static_cast<size_t>(pattern.firstWildcard - pattern.text);
  if (!EqualBytes(id, pattern.text, prefixLen)) return false;

  const char* rest = id + prefixLen;
  const char* q = pattern.firstWildcard;
  for (;;) {
    if (*q == '\0') return true;  // the pattern ends in a star
    if (*q == '*') {
      q = q + 1;  // a star is one byte
      continue;
    }
    const char* star = FindStar(q);
    if (star == nullptr) {
      // The tail is anchored at the end of the id and may not reach back into
      // what the earlier segments took.
      const size_t tailLen = std::strlen(q);
      const size_t restLen = std::strlen(rest);
      return restLen >= tailLen && EqualBytes(rest + restLen - tailLen, q, tailLen);
    }
    // An interior segment takes its leftmost occurrence: with "*" as the only
    // wildcard a later occurrence never lets more of the pattern match.
    const size_t segLen = static_cast<size_t>(star - q);
    const unsigned char first = Fold(*q);
    for (;;) {
      const char* found = FindFolded(rest, first);
      if (found == nullptr) return false;
      size_t i = 1;
      while (i < segLen && Fold(found[i]) == Fold(q[i])) ++i;
      if (i == segLen) {
        rest = found + segLen;
        break;
      }
      // The id ended inside the segment: no later start can fit it either.
      if (found[i] == '\0') return false;
      rest = Step(found);
    }
    q = star;
  }
}

const char* NextChar(const char* p) {
#ifdef _WIN32
  // The ANSI code page decides where a double-byte character ends.
  const char* next = CharNextA(p);
  // A lead byte just before the terminator is a broken character: step one
  // byte so that callers never land past the terminator.
  if (next > p + 1 && p[1] == '\0') next = p + 1;
  return next;
#else
  return *p != '\0' ? p + 1 : p;
#endif
}

}  // namespace devicecontrol
