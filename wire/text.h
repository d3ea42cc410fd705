// The text form every line protocol of the Norza programs travels in: bytes
// built into a growing buffer, read back one line at a time, with texts as
// hexadecimal bytes (so no byte of theirs can end a line) and numbers in
// decimal. No platform headers: both sides build and read it alike, and it is
// tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/growing.h"

namespace wire {

// Instance IDs and installer texts: at most 199 characters, so 200 bytes
// with the terminator.
constexpr std::size_t kMaxText = 199;
constexpr std::size_t kTextSize = kMaxText + 1;

// The last line of every request and answer.
extern const char kEndLine[];  // "END"

// `digits` hexadecimal digits of `value` (the lowest ones), upper-case or
// not, and a terminator, into `out`.
constexpr int kHexDigits32 = 8, kHexDigits64 = 16;
void FormatHex(uint64_t value, int digits, bool upper, char* out);

// A growing byte string on the C heap that never throws: after a failed
// growth ok() is false and the text stays as it was.
class Text {
 public:
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  void Append(const char* bytes, std::size_t count);
  void Append(const char* text);
  void AppendHex(const char* text);  // two upper-case digits per byte
  void AppendNumber(int64_t value);  // a minus sign for a negative one, no leading zeros
  void AppendEnd();                  // the end line

  const char* data() const { return bytes_.data() != nullptr ? bytes_.data() : ""; }
  std::size_t size() const { return bytes_.size(); }
  bool ok() const { return ok_; }

 private:
  Growing<char> bytes_;
  bool ok_ = true;
};

// Reads the input one line at a time; a line ends at '\n', which is not part
// of it. The last line must be ended too.
class Lines {
 public:
  Lines(const char* data, std::size_t size) : data_(data), left_(data != nullptr ? size : 0) {}
  bool Next(const char** line, std::size_t* length);
  bool AtEnd() const { return left_ == 0; }
  // The next line is exactly `text`.
  bool NextIs(const char* text);
  // The next line is the end line and nothing follows it.
  bool AtEndLine() { return NextIs(kEndLine) && AtEnd(); }

 private:
  const char* data_;
  std::size_t left_;
};

bool Equals(const char* line, std::size_t length, const char* text);
// "<keyword> <value>": the value, when the line starts so.
bool Field(const char* line, std::size_t length, const char* keyword, const char** value, std::size_t* valueLength);
// Hex digits as AppendHex writes them into a NUL-terminated text of at most
// kMaxText bytes; a NUL among the bytes would shorten the text unseen, so it
// is refused.
bool DecodeHex(const char* hex, std::size_t length, char (&out)[kTextSize]);
// A decimal number as AppendNumber writes it, within [min, max].
bool DecodeNumber(const char* text, std::size_t length, int64_t min, int64_t max, int64_t* value);

}  // namespace wire
