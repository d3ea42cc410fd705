#include "install_text.h"

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

std::string JoinInfPath(const char* dir, const char* name) {
  std::string path(dir != nullptr ? dir : "");
  path += '\\';
  path += name != nullptr ? name : "";
  return path;
}

}  // namespace tambrel
