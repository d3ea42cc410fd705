#include "wire/status_answer.h"

#include <cstring>

#include "wire/status_line.h"

bool ReadStatusLines(wire::Lines& lines, const ExpectedLine* expected, std::size_t count, std::size_t* chosen) {
  for (std::size_t i = 0; i < count; ++i) {
    const char* line;
    std::size_t length;
    if (!lines.Next(&line, &length)) return false;
    bool matched = false;
    for (std::size_t w = 0; w < kStatusWords && !matched; ++w) {
      char text[kStatusLineSize];
      const std::size_t n = FormatStatusLine(text, sizeof text, expected[i].id, expected[i].words[w]);
      // The expected line ends in '\n', which Next has taken off.
      if (n != 0 && n - 1 == length && std::memcmp(text, line, length) == 0) {
        chosen[i] = w;
        matched = true;
      }
    }
    if (!matched) return false;
  }
  return true;
}
