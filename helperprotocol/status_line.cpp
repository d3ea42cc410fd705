#include "status_line.h"

#include <cstdio>

std::size_t FormatStatusLine(char* out, std::size_t capacity, const char* id, const char* word) {
  if (out == nullptr || capacity == 0) return 0;
  const int length = word != nullptr ? std::snprintf(out, capacity, "%-60s: %s\n", id, word)
                                     : std::snprintf(out, capacity, "%s\n", id);
  if (length < 0 || static_cast<std::size_t>(length) >= capacity) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(length);
}
