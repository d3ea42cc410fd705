#include "elevation/elevation_protocol.h"

#include <cstring>

namespace elevation {

const char kRunOption[] = "--switch-elevated";
const char kAnswerPipePrefix[] = "\\\\.\\pipe\\norza-";
static_assert(sizeof kAnswerPipePrefix - 1 + 16 + 1 == kAnswerPipeNameSize, "the pipe name's size");

void MakeAnswerPipeName(uint64_t random, char (&name)[kAnswerPipeNameSize]) {
  std::memcpy(name, kAnswerPipePrefix, sizeof kAnswerPipePrefix - 1);
  wire::FormatHex(random, wire::kHexDigits64, false, name + sizeof kAnswerPipePrefix - 1);
}

bool IsElevatedRunStart(int argc, const char* const* argv) {
  return argc > 1 && argv != nullptr && argv[1] != nullptr && std::strcmp(argv[1], kRunOption) == 0;
}

void WriteCommandLine(wire::Text& out, const Command& command) {
  out.Append(kRunOption);
  out.Append(" ");
  out.AppendNumber(command.mode);
  out.Append(" ");
  out.Append(command.answerPipe);
}

bool ParseCommandLine(int argc, const char* const* argv, Command* command) {
  if (argc != 4 || argv == nullptr || argv[1] == nullptr || argv[2] == nullptr || argv[3] == nullptr ||
      std::strcmp(argv[1], kRunOption) != 0 || (std::strcmp(argv[2], "0") != 0 && std::strcmp(argv[2], "1") != 0)) {
    return false;
  }
  // Exactly the prefix and 16 digits as the panel writes them: nothing that
  // could climb out of the pipe namespace ("\\..\\"), and no other pipe.
  const char* name = argv[3];
  const std::size_t prefix = std::strlen(kAnswerPipePrefix);
  if (std::strlen(name) != kAnswerPipeNameSize - 1 || std::memcmp(name, kAnswerPipePrefix, prefix) != 0) return false;
  for (const char* p = name + prefix; *p != '\0'; ++p) {
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
  }
  command->mode = argv[2][0] == '0' ? drivermode::WDM : drivermode::ASIO;
  command->answerPipe = name;
  return true;
}

void WriteAnswerStart(wire::Text& out, bool stored) { out.Append(stored ? "STORED 1\n" : "STORED 0\n"); }

namespace {

bool ReadStored(wire::Lines& lines, bool* stored) {
  const char* line;
  std::size_t length;
  if (!lines.Next(&line, &length) ||
      !(wire::Equals(line, length, "STORED 0") || wire::Equals(line, length, "STORED 1"))) {
    return false;
  }
  *stored = line[7] == '1';
  return true;
}

}  // namespace

bool ParseAnswer(const char* data, std::size_t size, wire::DeviceOutcome* const* slots, std::size_t count,
                 bool* stored) {
  wire::Lines lines(data, size);
  bool said = false;
  if (!ReadStored(lines, &said) || !wire::ReadOutcomes(lines, slots, count) || !lines.AtEndLine()) {
    return false;
  }
  *stored = said;
  return true;
}

bool AnswerSaysStored(const char* data, std::size_t size) {
  wire::Lines lines(data, size);
  bool stored = false;
  return ReadStored(lines, &stored) && stored;
}

}  // namespace elevation
