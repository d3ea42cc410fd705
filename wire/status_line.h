// The text of the one-line report per device. No platform headers: the 32-bit
// control panel and the 64-bit device helper must produce the same bytes.
#pragma once

#include <cstddef>

// Room for any status line: an instance ID of up to 199 characters, ": ",
// a status word and the line end.
constexpr std::size_t kStatusLineSize = 256;

// "<id left-aligned in 60 characters>: <word>\n", or "<id>\n" without a word,
// into `out`. Returns its length, or 0 (and `out` empty) when it does not fit.
std::size_t FormatStatusLine(char* out, std::size_t capacity, const char* id, const char* word);
