#include "wire/text.h"

#include <cstdlib>
#include <cstring>

namespace wire {

const char kEndLine[] = "END";

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kLowerHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void Text::Append(const char* bytes, std::size_t count) {
  if (ok_ && !bytes_.Add(bytes, count)) ok_ = false;
}

void Text::Append(const char* text) { Append(text, std::strlen(text)); }

void Text::AppendHex(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    const char pair[2] = {kHexDigits[*p >> 4], kHexDigits[*p & 0xF]};
    Append(pair, 2);
  }
}

namespace {

// The powers of ten a 64-bit number has digits for, largest first.
struct PowersOfTen {
  uint64_t power[20];
  constexpr PowersOfTen() : power() {
    uint64_t value = 1;
    for (int i = 19; i >= 0; --i, value *= 10) power[i] = value;
  }
};
constexpr PowersOfTen kPowersOfTen;

}  // namespace

// Digit by digit, by subtracting powers of ten: a 32-bit program then
// carries no 64-bit division routine for it.
void Text::AppendNumber(int64_t value) {
  char digits[24];
  std::size_t n = 0;
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    digits[n++] = '-';
    magnitude = 0 - magnitude;
  }
  for (const uint64_t power : kPowersOfTen.power) {
    char digit = '0';
    while (magnitude >= power) {
      magnitude -= power;
      ++digit;
    }
    if (digit != '0' || n > (value < 0 ? 1u : 0u) || power == 1) digits[n++] = digit;
  }
  Append(digits, n);
}

void Text::AppendEnd() {
  Append(kEndLine);
  Append("\n");
}

void FormatHex(uint64_t value, int digits, bool upper, char* out) {
  const char* set = upper ? kHexDigits : kLowerHexDigits;
  for (int i = 0; i < digits; ++i) out[i] = set[(value >> (4 * (digits - 1 - i))) & 0xF];
  out[digits] = '\0';
}

bool Lines::Next(const char** line, std::size_t* length) {
  const void* end = left_ != 0 ? std::memchr(data_, '\n', left_) : nullptr;
  if (end == nullptr) return false;
  *line = data_;
  *length = static_cast<std::size_t>(static_cast<const char*>(end) - data_);
  data_ += *length + 1;
  left_ -= *length + 1;
  return true;
}

bool Lines::NextIs(const char* text) {
  const char* line;
  std::size_t length;
  return Next(&line, &length) && Equals(line, length, text);
}

bool Equals(const char* line, std::size_t length, const char* text) {
  return std::strlen(text) == length && std::memcmp(line, text, length) == 0;
}

bool Field(const char* line, std::size_t length, const char* keyword, const char** value, std::size_t* valueLength) {
  const std::size_t n = std::strlen(keyword);
  if (length < n + 1 || std::memcmp(line, keyword, n) != 0 || line[n] != ' ') return false;
  *value = line + n + 1;
  *valueLength = length - n - 1;
  return true;
}

bool DecodeHex(const char* hex, std::size_t length, char (&out)[kTextSize]) {
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

}  // namespace wire
