// Text handling of the installer that needs no platform headers, so it is
// built natively too (sanitizer tests, fuzzing).
#pragma once

#include <algorithm>
#include <cstddef>

#include "wire/text.h"

namespace tambrel {

// Length of the string at `text`, ending at its NUL or at `limit` bytes,
// whichever comes first. Never reads at or past `text + limit`.
std::size_t BoundedLength(const char* text, std::size_t limit);

// Whether the multi-string `list` of `size` bytes holds `id` as a whole entry
// (exact bytes, case significant). The walk stops at the first empty entry or
// at `size`; an entry without a NUL ends at `size`. An empty `id` never
// matches.
bool MultiSzHasEntry(const char* list, std::size_t size, const char* id);

// Room for the INF's full path: two texts of up to wire::kMaxText
// characters, the backslash between them and the terminator.
constexpr std::size_t kInfPathSize = 2 * wire::kTextSize;

// The INF's full path: dir, one backslash, name, taken as they are (no
// trimming), into `out` of `capacity` bytes. False, with `out` empty, when it
// does not fit.
bool JoinInfPath(const char* dir, const char* name, char* out, std::size_t capacity);

// Whether `part` occurs in `text` as a run of code units (case significant).
// An empty `part` occurs in every text. Unit is the platform's UTF-16 code
// unit: wchar_t on Windows, char16_t where wchar_t is wider.
template <typename Unit>
bool ContainsRun(const Unit* text, std::size_t textLength, const Unit* part, std::size_t partLength) {
  if (partLength == 0) return true;
  if (partLength > textLength) return false;
  return std::search(text, text + textLength, part, part + partLength) != text + textLength;
}

}  // namespace tambrel
