#include "devicecontrol/device_pattern.h"

#include <cstdlib>
#include <cstring>

namespace devicecontrol {

namespace {

// The literal enumerator an instance-ID pattern begins with: the text before
// its first backslash, when that holds no wildcard. Zero length for none.
std::size_t Enumerator(const DevicePattern& p) {
  if (!p.isInstanceIdPattern) return 0;
  const char* slash = std::strchr(p.text, '\\');
  if (slash == nullptr || slash == p.text) return 0;
  const std::size_t length = static_cast<std::size_t>(slash - p.text);
  // A wildcard before the backslash: it could match any enumerator.
  if (p.firstWildcard != nullptr && p.firstWildcard < slash) return 0;
  if (std::memchr(p.text, '*', length) != nullptr) return 0;  // a literal "*" is no enumerator's name
  return length;
}

}  // namespace

bool ParseSelection(int32_t count, const char* const* args, Selection* out) {
  *out = Selection{};
  int32_t first = 0;
  if (count > 0 && args[0][0] == '=' && args[0][1] != '\0') {
    out->className = args[0] + 1;
    first = 1;
  }
  if (first == count) {
    out->all = true;
  } else if (std::strcmp(args[first], "*") == 0) {
    out->all = true;
    ++first;
  }
  out->count = count - first;
  out->patterns = static_cast<DevicePattern*>(std::malloc(sizeof(DevicePattern) * (out->count > 0 ? out->count : 1)));
  if (out->patterns == nullptr) return false;
  for (int32_t i = 0; i < out->count; ++i) {
    DevicePattern& p = out->patterns[i];
    p = ParseDevicePattern(args[first + i]);
    if (p.firstWildcard != nullptr || !p.isInstanceIdPattern) out->matching = true;
  }
  if (out->all || !out->matching || out->className != nullptr) return true;
  for (int32_t i = 0; i < out->count; ++i) {
    const std::size_t length = Enumerator(out->patterns[i]);
    if (length == 0 || (i > 0 && (length != out->enumeratorLength ||
                                  !EqualBytes(out->patterns[i].text, out->enumerator, length)))) {
      out->enumerator = nullptr;
      out->enumeratorLength = 0;
      return true;
    }
    if (i == 0) {
      out->enumerator = out->patterns[0].text;
      out->enumeratorLength = length;
    }
  }
  return true;
}

void FreeSelection(Selection* selection) {
  std::free(selection->patterns);
  selection->patterns = nullptr;
  selection->count = 0;
}

bool SameSet(const Selection& a, const Selection& b) {
  if (a.className != nullptr || b.className != nullptr) return false;  // each class its own lookup
  // A set of devices named by literal instance IDs holds exactly those and
  // selects all it holds: it serves its own list alone.
  if (!(a.matching || a.all) || !(b.matching || b.all)) return false;
  return a.enumeratorLength == b.enumeratorLength &&
         (a.enumerator == nullptr || EqualBytes(a.enumerator, b.enumerator, a.enumeratorLength));
}

}  // namespace devicecontrol
