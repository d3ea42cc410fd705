// Fuzzes the protocol readers with arbitrary bytes: the helper reads
// requests from its caller, the caller reads the helper's and the elevated
// run's answers. A request that is read must be written back byte for byte.
// The status line must match the printf format it replaced.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "elevation/elevation_protocol.h"
#include "wire/helper_protocol.h"
#include "wire/status_line.h"

namespace {

// A request that is read is written back byte for byte.
template <typename Request, typename Parse, typename Write>
void RoundTrip(const std::vector<char>& input, Parse parse, Write write) {
  Request request;
  if (!parse(input.data(), input.size(), request)) return;
  wire::Text again;
  write(again, request);
  if (again.size() != input.size() || std::memcmp(again.data(), input.data(), input.size()) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size copy: any read past the end is caught.
  const std::vector<char> input(data, data + size);
  wire::KindOfRequest(input.data(), input.size());
  RoundTrip<wire::StateChangeRequest>(input, wire::ParseStateChangeRequest, wire::WriteStateChangeRequest);
  RoundTrip<wire::InstallRequest>(input, wire::ParseInstallRequest, wire::WriteInstallRequest);

  bool installed = false;
  uint32_t error = 0;
  if (wire::ParseInstallAnswer(input.data(), input.size(), &installed, &error) && installed != (error == 0)) {
    __builtin_trap();
  }

  // An answer read is one that writes back as it was.
  wire::DeviceOutcome read[2];
  std::strcpy(read[0].id, "USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000");
  std::strcpy(read[1].id, "A");
  wire::DeviceOutcome* const slots[] = {&read[0], &read[1]};
  if (wire::ParseStateChangeAnswer(input.data(), input.size(), slots, 2)) {
    wire::Text written;
    for (const auto& outcome : read) wire::WriteOutcome(written, outcome);
    written.AppendEnd();
    if (written.size() != input.size() || std::memcmp(written.data(), input.data(), input.size()) != 0) {
      __builtin_trap();
    }
  }
  bool stored = false;
  elevation::ParseAnswer(input.data(), input.size(), slots, 2, &stored);

  // First byte: the room; then the id, and after a NUL the word if any.
  if (size > 0) {
    const std::size_t capacity = data[0] + 1u;
    const std::string rest(input.begin() + 1, input.end());
    const std::string id = rest.substr(0, rest.find('\0'));
    const char* word = rest.size() > id.size() ? rest.c_str() + id.size() + 1 : nullptr;
    char line[256], printed[256];
    const std::size_t length = wire::FormatStatusLine(line, capacity, id.c_str(), word);
    const int wanted = word != nullptr ? std::snprintf(printed, capacity, "%-60s: %s\n", id.c_str(), word)
                                       : std::snprintf(printed, capacity, "%s\n", id.c_str());
    const bool fits = wanted >= 0 && static_cast<std::size_t>(wanted) < capacity;
    if (length != (fits ? static_cast<std::size_t>(wanted) : 0) || std::strcmp(line, fits ? printed : "") != 0) {
      __builtin_trap();
    }
  }
  return 0;
}
