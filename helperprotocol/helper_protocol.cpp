#include "helper_protocol.h"

#include <cstdlib>
#include <cstring>

#include "status_line.h"

namespace helper {

const char kAnswerEnd[] = "END\n";
const char kSwitchElevatedOption[] = "--switch-elevated";
const char kAnswerPipePrefix[] = "\\\\.\\pipe\\norza-";
static_assert(sizeof kAnswerPipePrefix - 1 + 16 + 1 == kAnswerPipeNameSize, "the pipe name's size");

namespace {

constexpr char kHeader[] = "NORZA-DEVICE-HELPER 1";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Reads the input one line at a time; a line ends at '\n', which is not part
// of it. The last line must be ended too.
class Lines {
 public:
  Lines(const char* data, std::size_t size) : data_(data), left_(data != nullptr ? size : 0) {}

  bool Next(const char** line, std::size_t* length) {
    const void* end = left_ != 0 ? std::memchr(data_, '\n', left_) : nullptr;
    if (end == nullptr) return false;
    *line = data_;
    *length = static_cast<std::size_t>(static_cast<const char*>(end) - data_);
    data_ += *length + 1;
    left_ -= *length + 1;
    return true;
  }
  bool AtEnd() const { return left_ == 0; }

 private:
  const char* data_;
  std::size_t left_;
};

bool Equals(const char* line, std::size_t length, const char* text) {
  return std::strlen(text) == length && std::memcmp(line, text, length) == 0;
}

// "<keyword> <value>": the value, when the line starts so.
bool Field(const char* line, std::size_t length, const char* keyword, const char** value, std::size_t* valueLength) {
  const std::size_t n = std::strlen(keyword);
  if (length < n + 1 || std::memcmp(line, keyword, n) != 0 || line[n] != ' ') return false;
  *value = line + n + 1;
  *valueLength = length - n - 1;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits into a NUL-terminated text of at most kMaxText bytes; a NUL in
// the bytes would shorten the text unseen, so it is refused.
bool DecodeHex(const char* hex, std::size_t length, char (&out)[kMaxText + 1]) {
  if (length % 2 != 0 || length / 2 > kMaxText) return false;
  for (std::size_t i = 0; i < length; i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0 || (high | low) == 0) return false;
    out[i / 2] = static_cast<char>(high << 4 | low);
  }
  out[length / 2] = '\0';
  return true;
}

// A decimal number as AppendNumber writes it (a minus sign for a negative
// one, no leading zeros), within [min, max].
bool DecodeNumber(const char* text, std::size_t length, int64_t min, int64_t max, int64_t* value) {
  std::size_t i = 0;
  const bool negative = length > 0 && text[0] == '-';
  if (negative) ++i;
  if (i == length || length - i > 10) return false;
  if (text[i] == '0' && (length - i > 1 || negative)) return false;
  int64_t n = 0;
  for (; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + (text[i] - '0');
  }
  if (negative) n = -n;
  if (n < min || n > max) return false;
  *value = n;
  return true;
}

bool HexField(Lines& lines, const char* keyword, char (&out)[kMaxText + 1]) {
  const char* line;
  std::size_t length;
  const char* value;
  std::size_t valueLength;
  // An empty text is the keyword and a space.
  return lines.Next(&line, &length) && Field(line, length, keyword, &value, &valueLength) && DecodeHex(value, valueLength, out);
}

bool AtEndLine(Lines& lines) {
  const char* line;
  std::size_t length;
  return lines.Next(&line, &length) && Equals(line, length, "END") && lines.AtEnd();
}

}  // namespace

Text::~Text() { std::free(data_); }

void Text::Append(const char* bytes, std::size_t count) {
  if (!ok_ || count == 0) return;
  if (count > capacity_ - size_) {
    std::size_t capacity = capacity_ == 0 ? 256 : capacity_;
    while (capacity - size_ < count) {
      if (capacity > (static_cast<std::size_t>(-1) >> 2)) {
        ok_ = false;
        return;
      }
      capacity *= 2;
    }
    char* grown = static_cast<char*>(std::realloc(data_, capacity));
    if (grown == nullptr) {
      ok_ = false;
      return;
    }
    data_ = grown;
    capacity_ = capacity;
  }
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

void Text::Append(const char* text) { Append(text, std::strlen(text)); }

void Text::AppendHex(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    const char pair[2] = {kHexDigits[*p >> 4], kHexDigits[*p & 0xF]};
    Append(pair, 2);
  }
}

void Text::AppendNumber(int64_t value) {
  char digits[24];
  std::size_t n = sizeof digits;
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[--n] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits[--n] = '-';
  Append(digits + n, sizeof digits - n);
}

Request::~Request() { std::free(ids); }

void BeginStateChangeRequest(Text& out) {
  out.Append(kHeader);
  out.Append("\n");
}

namespace {

void AppendStateLine(Text& out, uint32_t stateChange) {
  out.Append("STATE ");
  out.AppendNumber(stateChange);
  out.Append("\n");
}

void AppendIdLine(Text& out, const char* id) {
  out.Append("ID ");
  out.AppendHex(id);
  out.Append("\n");
}

}  // namespace

void AppendStateChangeBatch(Text& out, uint32_t stateChange, const char* const* ids, std::size_t count) {
  AppendStateLine(out, stateChange);
  for (std::size_t i = 0; i < count; ++i) AppendIdLine(out, ids[i]);
}

void EndRequest(Text& out) { out.Append("END\n"); }

void WriteStateChangeRequest(Text& out, uint32_t stateChange, const char* const* ids, std::size_t count) {
  BeginStateChangeRequest(out);
  AppendStateChangeBatch(out, stateChange, ids, count);
  EndRequest(out);
}

void WriteInstallRequest(Text& out, int32_t buttonId, const char* infDir, const char* infName,
                         const char* hardwareId) {
  out.Append(kHeader);
  out.Append("\nINSTALL ");
  out.AppendNumber(buttonId);
  const char* const keywords[] = {"\nDIR ", "\nNAME ", "\nHWID "};
  const char* const texts[] = {infDir, infName, hardwareId};
  for (int i = 0; i < 3; ++i) {
    out.Append(keywords[i]);
    out.AppendHex(texts[i]);
  }
  out.Append("\nEND\n");
}

void WriteInstallAnswer(Text& out, bool installed, uint32_t error) {
  out.Append(installed ? "INSTALLED 1 " : "INSTALLED 0 ");
  out.AppendNumber(error);
  out.Append("\n");
  out.Append(kAnswerEnd);
}

bool ParseRequest(const char* data, std::size_t size, Request& out) {
  Lines lines(data, size);
  const char* line;
  std::size_t length;
  const char* value;
  std::size_t valueLength;
  int64_t number = 0;
  if (!lines.Next(&line, &length) || !Equals(line, length, kHeader) || !lines.Next(&line, &length)) return false;

  if (Field(line, length, "INSTALL", &value, &valueLength)) {
    if (!DecodeNumber(value, valueLength, INT32_MIN, INT32_MAX, &number)) return false;
    out.kind = Request::Kind::Install;
    out.buttonId = static_cast<int32_t>(number);
    return HexField(lines, "DIR", out.infDir) && HexField(lines, "NAME", out.infName) &&
           HexField(lines, "HWID", out.hardwareId) && AtEndLine(lines);
  }

  out.kind = Request::Kind::StateChange;
  out.batchCount = 0;
  std::free(out.ids);
  out.ids = nullptr;
  out.idCount = 0;
  std::size_t capacity = 0;
  for (;;) {
    if (Equals(line, length, "END")) {
      // Something to do, and no batch without a device.
      return out.batchCount != 0 && out.batches[out.batchCount - 1].count != 0 && lines.AtEnd();
    }
    if (Field(line, length, "STATE", &value, &valueLength)) {
      if ((out.batchCount != 0 && out.batches[out.batchCount - 1].count == 0) || out.batchCount == kMaxBatches ||
          !DecodeNumber(value, valueLength, 1, 2, &number)) {
        return false;
      }
      Request::Batch& batch = out.batches[out.batchCount++];
      batch.stateChange = static_cast<uint32_t>(number);
      batch.first = out.idCount;
      batch.count = 0;
    } else {
      if (out.batchCount == 0 || !Field(line, length, "ID", &value, &valueLength) || out.idCount == kMaxDevices) {
        return false;
      }
      if (out.idCount == capacity) {
        capacity = capacity == 0 ? 8 : capacity * 2;
        void* grown = std::realloc(out.ids, capacity * sizeof *out.ids);
        if (grown == nullptr) return false;
        out.ids = static_cast<char(*)[kMaxText + 1]>(grown);
      }
      if (valueLength == 0 || !DecodeHex(value, valueLength, out.ids[out.idCount])) return false;
      ++out.idCount;
      ++out.batches[out.batchCount - 1].count;
    }
    if (!lines.Next(&line, &length)) return false;
  }
}

void WriteRequest(Text& out, const Request& request) {
  if (request.kind == Request::Kind::Install) {
    WriteInstallRequest(out, request.buttonId, request.infDir, request.infName, request.hardwareId);
    return;
  }
  BeginStateChangeRequest(out);
  for (std::size_t b = 0; b < request.batchCount; ++b) {
    const Request::Batch& batch = request.batches[b];
    AppendStateLine(out, batch.stateChange);
    for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) AppendIdLine(out, request.ids[i]);
  }
  EndRequest(out);
}

namespace {

// One status line per expected line, in order, each with one of its words.
bool ReadStatusLines(Lines& lines, const ExpectedLine* expected, std::size_t count, std::size_t* chosen) {
  for (std::size_t i = 0; i < count; ++i) {
    const char* line;
    std::size_t length;
    if (!lines.Next(&line, &length)) return false;
    bool matched = false;
    for (std::size_t w = 0; w < kStatusWords && !matched; ++w) {
      char text[kStatusLineSize];
      const std::size_t n = FormatStatusLine(text, sizeof text, expected[i].id, expected[i].words[w]);
      // The expected line ends in '\n', which Next has taken off.
      if (n != 0 && n - 1 == length && std::memcmp(text, line, length) == 0) {
        chosen[i] = w;
        matched = true;
      }
    }
    if (!matched) return false;
  }
  return true;
}

}  // namespace

bool ParseStateChangeAnswer(const char* data, std::size_t size, const ExpectedLine* expected, std::size_t count,
                            std::size_t* chosen) {
  Lines lines(data, size);
  return ReadStatusLines(lines, expected, count, chosen) && AtEndLine(lines);
}

bool ParseSwitchAnswer(const char* data, std::size_t size, const ExpectedLine* expected, std::size_t count,
                       std::size_t* chosen, bool* stored) {
  Lines lines(data, size);
  const char* line;
  std::size_t length;
  if (!ReadStatusLines(lines, expected, count, chosen) || !lines.Next(&line, &length) ||
      !(Equals(line, length, "STORED 0") || Equals(line, length, "STORED 1")) || !AtEndLine(lines)) {
    return false;
  }
  *stored = line[7] == '1';
  return true;
}

void WriteSwitchAnswerEnd(Text& out, bool stored) {
  out.Append(stored ? "STORED 1\n" : "STORED 0\n");
  out.Append(kAnswerEnd);
}

void WriteSwitchParameters(Text& out, int32_t mode, const char* pipeName) {
  out.Append(kSwitchElevatedOption);
  out.Append(" ");
  out.AppendNumber(mode);
  out.Append(" ");
  out.Append(pipeName);
}

bool ParseSwitchCommandLine(int argc, const char* const* argv, int32_t* mode, const char** pipeName) {
  if (argc != 4 || argv == nullptr || argv[1] == nullptr || argv[2] == nullptr || argv[3] == nullptr ||
      std::strcmp(argv[1], kSwitchElevatedOption) != 0 ||
      (std::strcmp(argv[2], "0") != 0 && std::strcmp(argv[2], "1") != 0)) {
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
  *mode = argv[2][0] - '0';
  *pipeName = name;
  return true;
}

bool ParseInstallAnswer(const char* data, std::size_t size, bool* installed, uint32_t* error) {
  Lines lines(data, size);
  const char* line;
  std::size_t length;
  const char* value;
  std::size_t valueLength;
  if (!lines.Next(&line, &length) || !Field(line, length, "INSTALLED", &value, &valueLength) || valueLength < 3 ||
      (value[0] != '0' && value[0] != '1') || value[1] != ' ') {
    return false;
  }
  int64_t number = 0;
  if (!DecodeNumber(value + 2, valueLength - 2, 0, UINT32_MAX, &number)) return false;
  const bool success = value[0] == '1';
  if (success != (number == 0) || !AtEndLine(lines)) return false;
  *installed = success;
  *error = static_cast<uint32_t>(number);
  return true;
}

}  // namespace helper
