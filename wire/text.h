// The text form every line protocol of the Norza programs travels in: bytes
// built into a growing buffer, read back one line at a time, with texts as
// hexadecimal bytes (so no byte of theirs can end a line) and numbers in
// decimal. No platform headers: both sides build and read it alike, and it is
// tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// Instance IDs and installer texts: at most 199 characters.
constexpr std::size_t kMaxText = 199;

// A growing byte string on the C heap that never throws: after a failed
// growth ok() is false and the text stays as it was.
class Text {
 public:
  Text() = default;
  ~Text();
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  void Append(const char* bytes, std::size_t count);
  void Append(const char* text);
  void AppendHex(const char* text);  // two upper-case digits per byte
  void AppendNumber(int64_t value);  // a minus sign for a negative one, no leading zeros

  const char* data() const { return data_ != nullptr ? data_ : ""; }
  std::size_t size() const { return size_; }
  bool ok() const { return ok_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
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
  // The next line is "END" and nothing follows it.
  bool AtEndLine() { return NextIs("END") && AtEnd(); }

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
bool DecodeHex(const char* hex, std::size_t length, char (&out)[kMaxText + 1]);
// A decimal number as AppendNumber writes it, within [min, max].
bool DecodeNumber(const char* text, std::size_t length, int64_t min, int64_t max, int64_t* value);

}  // namespace wire
