#include "wire/text.h"

#include <cstdlib>
#include <cstring>

namespace wire {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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
