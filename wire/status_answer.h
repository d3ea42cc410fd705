// The status lines of an answer (the device helper's, or the elevated run's),
// read back against the lines the caller expects: the bytes either side
// prints with FormatStatusLine.
#pragma once

#include <cstddef>

#include "wire/text.h"

// The status words a device's line may carry: done, needs a restart, failed.
constexpr std::size_t kStatusWords = 3;

// One line as the caller expects it: the device and the status words of its
// batch (done, restart, fail).
struct ExpectedLine {
  const char* id;
  const char* const* words;  // kStatusWords of them
};

// One status line per expected line, in order, each carrying one of its
// words; chosen[i] receives the index of line i's word. False at the first
// line that is not so.
bool ReadStatusLines(wire::Lines& lines, const ExpectedLine* expected, std::size_t count, std::size_t* chosen);
