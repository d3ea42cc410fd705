// Parses a pattern and matches an id, checking the result against a plain
// backtracking glob matcher. Input: pattern bytes, a NUL, id bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "devicecontrol/device_pattern.h"

namespace {

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Exact-size heap copy up to the first NUL, so ASan sees any overread.
char* CopyString(const uint8_t* data, size_t size) {
  const void* nul = std::memchr(data, 0, size);
  const size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
  auto* s = static_cast<char*>(std::malloc(len + 1));
  if (s == nullptr) std::abort();
  std::memcpy(s, data, len);
  s[len] = '\0';
  return s;
}

bool FoldEqual(const char* a, const char* b) {
  const size_t n = std::strlen(a);
  if (n != std::strlen(b)) return false;
  for (size_t i = 0; i < n; ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// Backtracking glob over "*" only: on a mismatch, let the last star take one
// more character.
bool ReferenceMatch(const char* s, const char* p) {
  const size_t n = std::strlen(s), m = std::strlen(p);
  size_t i = 0, j = 0, star = SIZE_MAX, mark = 0;
  while (i < n) {
    if (j < m && p[j] == '*') {
      star = j++;
      mark = i;
    } else if (j < m && Fold(p[j]) == Fold(s[i])) {
      ++i;
      ++j;
    } else if (star != SIZE_MAX) {
      j = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (j < m && p[j] == '*') ++j;
  return j == m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const void* sep = std::memchr(data, 0, size);
  const size_t patternSize = sep ? static_cast<size_t>(static_cast<const uint8_t*>(sep) - data) : size;
  char* pattern = CopyString(data, patternSize);
  char* id = sep ? CopyString(data + patternSize + 1, size - patternSize - 1) : CopyString(data, 0);

  const devicecontrol::DevicePattern p = devicecontrol::ParseDevicePattern(pattern);

  // The parse, worked out independently.
  size_t offset = 0;
  const bool instance = pattern[0] == '@';
  if (instance) ++offset;
  const bool literal = pattern[offset] == '\'';
  if (literal) ++offset;
  if (p.text != pattern + offset || p.isInstanceIdPattern != (instance ? 1 : 0)) std::abort();
  const char* star = literal ? nullptr : std::strchr(p.text, '*');
  if (p.firstWildcard != star) std::abort();

  const bool expected = literal ? FoldEqual(id, p.text) : ReferenceMatch(id, p.text);
  if (devicecontrol::MatchIdPattern(id, p) != expected) std::abort();

  std::free(id);
  std::free(pattern);
  return 0;
}
