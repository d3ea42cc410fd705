// Splits the input as a multi-string and checks the list against the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "devicecontrol/device_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact size, ending in two NULs whatever the input holds.
  auto* buffer = static_cast<char*>(std::malloc(size + 2));
  if (buffer == nullptr) return 0;
  std::memcpy(buffer, data, size);
  buffer[size] = '\0';
  buffer[size + 1] = '\0';

  devicecontrol::IdList list = devicecontrol::SplitMultiString(buffer);
  if (list == nullptr) {
    std::free(buffer);
    return 0;
  }
  if (list[-1] != buffer) std::abort();

  // Entries follow one another through the buffer up to the first empty string.
  const char* expected = buffer;
  size_t count = 0;
  for (; *expected != '\0'; expected += std::strlen(expected) + 1, ++count) {
    if (list[count] != expected) std::abort();
  }
  if (list[count] != nullptr) std::abort();

  static char star[] = "*";
  const bool any = devicecontrol::MatchAnyId(list, devicecontrol::ParseDevicePattern(star));
  if (any != (count > 0)) std::abort();
  if (count > 0) {
    // Each entry, taken as a literal pattern, is found in the list.
    const size_t last = std::strlen(list[count - 1]);
    auto* quoted = static_cast<char*>(std::malloc(last + 2));
    if (quoted == nullptr) std::abort();
    quoted[0] = '\'';
    std::memcpy(quoted + 1, list[count - 1], last + 1);
    if (!devicecontrol::MatchAnyId(list, devicecontrol::ParseDevicePattern(quoted))) std::abort();
    std::free(quoted);
  }

  devicecontrol::FreeIdList(list);
  return 0;
}
