// Fuzzes the device helper's protocol readers with arbitrary bytes: the
// helper reads requests from its caller, the caller reads the helper's
// answers. A request that is read must be written back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "helper_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size copy: any read past the end is caught.
  const std::vector<char> input(data, data + size);
  helper::Request request;
  if (helper::ParseRequest(input.data(), input.size(), request)) {
    helper::Text again;
    if (request.kind == helper::Request::Kind::Install) {
      helper::WriteInstallRequest(again, request.buttonId, request.infDir, request.infName, request.hardwareId);
    } else {
      std::vector<const char*> ids;
      for (size_t i = 0; i < request.idCount; ++i) ids.push_back(request.ids[i]);
      helper::WriteStateChangeRequest(again, request.stateChange, ids.data(), ids.size());
    }
    if (again.size() != size || std::memcmp(again.data(), input.data(), size) != 0) {
      __builtin_trap();
    }
  }

  bool installed = false;
  uint32_t error = 0;
  if (helper::ParseInstallAnswer(input.data(), input.size(), &installed, &error) && installed != (error == 0)) {
    __builtin_trap();
  }

  const char* const ids[] = {"USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000", "A"};
  const char* const words[] = {"Enabled", "Reboot", "Fail"};
  size_t chosen[2] = {};
  if (helper::ParseStateChangeAnswer(input.data(), input.size(), ids, 2, words, 3, chosen) &&
      (chosen[0] > 2 || chosen[1] > 2)) {
    __builtin_trap();
  }
  return 0;
}
