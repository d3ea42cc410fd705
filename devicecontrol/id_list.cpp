#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "devicecontrol/device_pattern.h"

namespace devicecontrol {

IdList SplitMultiString(char* buffer) {
  size_t count = 0;
  if (buffer != nullptr) {
    for (const char* s = buffer; *s != '\0'; s += std::strlen(s) + 1) ++count;
  }
  if (count > SIZE_MAX / sizeof(char*) - 2) return nullptr;
  auto** slots = static_cast<char**>(std::malloc((count + 2) * sizeof(char*)));
  if (slots == nullptr) return nullptr;

  slots[0] = buffer;  // owned by the list from here on
  char* s = buffer;
  for (size_t i = 1; i <= count; ++i) {
    slots[i] = s;
    s += std::strlen(s) + 1;
  }
  slots[count + 1] = nullptr;
  return slots + 1;
}

void FreeIdList(IdList list) {
  if (list == nullptr) return;
  if (list[-1] != nullptr) std::free(list[-1]);
  std::free(list - 1);
}

bool MatchAnyId(IdList list, const DevicePattern& pattern) {
  if (list == nullptr) return false;
  for (char** entry = list; *entry != nullptr; ++entry) {
    if (MatchIdPattern(*entry, pattern)) return true;
  }
  return false;
}

}  // namespace devicecontrol
