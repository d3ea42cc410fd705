// norza_devices register|remove: puts the three USB functions of a Norza in
// the Wine prefix's device database (for the demo run), or takes them out.
#include <cstdio>
#include <cstring>

#include "wine_devices.h"

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
  std::fprintf(stderr, "usage: norza_devices register|remove\n");
  return 2;
}
