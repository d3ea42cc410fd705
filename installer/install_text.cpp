#include "installer/install_text.h"

#include <cstring>

namespace tambrel {

std::size_t BoundedLength(const char* text, std::size_t limit) {
  const void* nul = std::memchr(text, '\0', limit);
  return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : limit;
}

bool MultiSzHasEntry(const char* list, std::size_t size, const char* id) {
  if (list == nullptr || id == nullptr) return false;
  const std::size_t idLength = std::strlen(id);
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t length = BoundedLength(list + pos, size - pos);
    if (length == 0) return false;
    if (length == idLength && std::memcmp(list + pos, id, length) == 0) return true;
    pos += length + 1;
  }
  return false;
}

bool JoinInfPath(const char* dir, const char* name, char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  const std::size_t dirLength = dir != nullptr ? std::strlen(dir) : 0;
  const std::size_t nameLength = name != nullptr ? std::strlen(name) : 0;
  out[0] = '\0';
  if (dirLength >= capacity || nameLength >= capacity - dirLength - 1) return false;
  std::memcpy(out, dir, dirLength);
  out[dirLength] = '\\';
  std::memcpy(out + dirLength + 1, name, nameLength);
  out[dirLength + 1 + nameLength] = '\0';
  return true;
}

}  // namespace tambrel
