// norza_devices register|remove: puts the three USB functions of a Norza in
// the Wine prefix's device database (for the demo run), or takes them out.
// norza_devices register-one|remove-one INSTANCE_ID [CLASS_GUID HARDWARE_ID]:
// the same for one device of any class (for the installer tests).
#include <cstdio>
#include <cstring>

#include "wine_devices.h"

namespace {

bool ParseGuid(const char* text, GUID* guid) {
  unsigned long data1;
  unsigned int data2, data3, b[8];
  if (std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data2, &data3, &b[0], &b[1], &b[2],
                  &b[3], &b[4], &b[5], &b[6], &b[7]) != 11) {
    return false;
  }
  guid->Data1 = data1;
  guid->Data2 = static_cast<unsigned short>(data2);
  guid->Data3 = static_cast<unsigned short>(data3);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<unsigned char>(b[i]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "register") == 0) {
    if (!e2e::RegisterDevices(e2e::NorzaFunctions())) {
      std::fprintf(stderr, "norza_devices: could not register the Norza functions\n");
      return 1;
    }
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "remove") == 0) {
    e2e::RemoveDevices(e2e::NorzaFunctions());
    return 0;
  }
  GUID guid{};
  if (argc == 5 && std::strcmp(argv[1], "register-one") == 0 && ParseGuid(argv[3], &guid)) {
    if (!e2e::RegisterDevices({{argv[2], guid, {argv[4]}, {}}})) {
      std::fprintf(stderr, "norza_devices: could not register %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "remove-one") == 0) {
    e2e::RemoveDevices({{argv[2], GUID{}, {}, {}}});
    return 0;
  }
  std::fprintf(stderr, "usage: norza_devices register|remove\n"
                       "       norza_devices register-one INSTANCE_ID {CLASS-GUID} HARDWARE_ID\n"
                       "       norza_devices remove-one INSTANCE_ID\n");
  return 2;
}
