#include "wire/status_line.h"

#include <cstring>

namespace wire {

namespace {

constexpr std::size_t kIdColumn = 60;
constexpr char kDeviceKeyword[] = "DEVICE";

// Appends `size` bytes of `text` (or `size` spaces without text) when they fit
// with the closing NUL; `*length` counts what the whole line needs either way.
void Append(char* out, std::size_t capacity, std::size_t* length, const char* text, std::size_t size) {
  if (*length + size < capacity) {
    if (text != nullptr) {
      std::memcpy(out + *length, text, size);
    } else {
      std::memset(out + *length, ' ', size);
    }
  }
  *length += size;
}

std::size_t Finish(char* out, std::size_t capacity, std::size_t length) {
  if (length >= capacity) {
    out[0] = '\0';
    return 0;
  }
  out[length] = '\0';
  return length;
}

}  // namespace

const char* StatusWord(DeviceStatus status, uint32_t stateChange) {
  switch (status) {
    case DeviceStatus::Done: return stateChange == kEnable ? "Enabled" : "Disabled";
    case DeviceStatus::Restart: return "Reboot";
    default: return "Fail";
  }
}

// Formatted by hand: printf's machinery would be most of what the installer
// library weighs.
std::size_t FormatStatusLine(char* out, std::size_t capacity, const char* id, const char* word) {
  if (out == nullptr || capacity == 0) return 0;
  std::size_t length = 0;
  const std::size_t idLength = std::strlen(id);
  Append(out, capacity, &length, id, idLength);
  if (word != nullptr) {
    if (idLength < kIdColumn) Append(out, capacity, &length, nullptr, kIdColumn - idLength);
    Append(out, capacity, &length, ": ", 2);
    Append(out, capacity, &length, word, std::strlen(word));
  }
  Append(out, capacity, &length, "\n", 1);
  return Finish(out, capacity, length);
}

std::size_t FormatOutcomeLine(char* out, std::size_t capacity, const DeviceOutcome& outcome, uint32_t stateChange,
                              bool withError) {
  char word[16 + kHexDigits32 + 3];
  std::strcpy(word, StatusWord(outcome.status, stateChange));
  if (withError && outcome.status == DeviceStatus::Failed && outcome.error != 0) {
    std::strcat(word, " 0x");
    FormatHex(outcome.error, kHexDigits32, true, word + std::strlen(word));
  }
  return FormatStatusLine(out, capacity, outcome.id[0] != '\0' ? outcome.id : "?", word);
}

void WriteOutcome(Text& out, const DeviceOutcome& outcome) {
  out.Append(kDeviceKeyword);
  out.Append(" ");
  out.AppendHex(outcome.id);
  out.Append(" ");
  out.AppendNumber(static_cast<int64_t>(outcome.status));
  out.Append(" ");
  out.AppendNumber(outcome.error);
  out.Append("\n");
}

bool ReadOutcomes(Lines& lines, DeviceOutcome* const* slots, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    // "DEVICE <hex id> " exactly as the slot's device is written, then
    // "<status> <error>": a done device carries no error.
    Text start;
    start.Append(kDeviceKeyword);
    start.Append(" ");
    start.AppendHex(slots[i]->id);
    start.Append(" ");
    const char* line;
    std::size_t length;
    const std::size_t n = start.size();
    int64_t error = 0;
    if (!start.ok() || !lines.Next(&line, &length) || length < n + 3 || std::memcmp(line, start.data(), n) != 0 ||
        line[n] < '0' || line[n] > '2' || line[n + 1] != ' ' ||
        !DecodeNumber(line + n + 2, length - n - 2, 0, UINT32_MAX, &error) || (line[n] != '0' && error != 0)) {
      return false;
    }
    slots[i]->status = static_cast<DeviceStatus>(line[n] - '0');
    slots[i]->error = static_cast<uint32_t>(error);
  }
  return true;
}

}  // namespace wire
