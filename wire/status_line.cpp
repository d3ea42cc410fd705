#include "wire/status_line.h"

#include <cstring>

namespace {

constexpr std::size_t kIdColumn = 60;

// Appends `size` bytes of `text` (or `size` spaces without text) when they fit
// with the closing NUL; `*length` counts what the whole line needs either way.
void Append(char* out, std::size_t capacity, std::size_t* length, const char* text, std::size_t size) {
  if (*length + size < capacity) {
    if (text != nullptr) {
      std::memcpy(out + *length, text, size);
    } else {
      std::memset(out + *length, ' ', size);
    }
  }
  *length += size;
}

}  // namespace

// Formatted by hand: printf's machinery would be most of what the installer
// library weighs.
std::size_t FormatStatusLine(char* out, std::size_t capacity, const char* id, const char* word) {
  if (out == nullptr || capacity == 0) return 0;
  std::size_t length = 0;
  const std::size_t idLength = std::strlen(id);
  Append(out, capacity, &length, id, idLength);
  if (word != nullptr) {
    if (idLength < kIdColumn) Append(out, capacity, &length, nullptr, kIdColumn - idLength);
    Append(out, capacity, &length, ": ", 2);
    Append(out, capacity, &length, word, std::strlen(word));
  }
  Append(out, capacity, &length, "\n", 1);
  if (length >= capacity) {
    out[0] = '\0';
    return 0;
  }
  out[length] = '\0';
  return length;
}
