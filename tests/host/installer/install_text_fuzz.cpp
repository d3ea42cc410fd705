// Fuzzes the hardware-ID scan and the code-unit search with arbitrary bytes:
// the first byte splits the input into an id and a list.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "installer/install_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t split = data[0] % (size);
  const std::string id(reinterpret_cast<const char*>(data + 1), split > 0 ? split - 1 : 0);
  const std::size_t listSize = size - 1 - (split > 0 ? split - 1 : 0);
  // Exact-size copy: any read past listSize is caught.
  std::vector<char> list(reinterpret_cast<const char*>(data) + size - listSize,
                         reinterpret_cast<const char*>(data) + size);
  const bool found = tambrel::MultiSzHasEntry(list.data(), list.size(), id.c_str());
  // A match is a whole entry that starts the list or follows a NUL.
  if (found) {
    const std::size_t n = std::strlen(id.c_str());
    bool seen = false;
    for (std::size_t pos = 0; pos + n <= list.size() && !seen; ++pos) {
      if ((pos == 0 || list[pos - 1] == '\0') && std::memcmp(&list[pos], id.c_str(), n) == 0 &&
          (pos + n == list.size() || list[pos + n] == '\0')) {
        seen = true;
      }
    }
    if (!seen || n == 0) __builtin_trap();
  }

  std::vector<char16_t> units(list.size() / 2);
  if (!units.empty()) std::memcpy(units.data(), list.data(), units.size() * 2);
  const std::size_t half = units.size() / 2;
  std::vector<char16_t> part(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(half));
  std::vector<char16_t> text(units.begin() + static_cast<std::ptrdiff_t>(half), units.end());
  tambrel::ContainsRun(text.data(), text.size(), part.data(), part.size());
  return 0;
}
