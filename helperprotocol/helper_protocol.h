// The line protocol between a 32-bit program and the 64-bit device helper it
// starts on 64-bit Windows. No platform headers: the texts are built and read
// the same way on both sides, and tested natively.
//
// Request (the helper's standard input), one of:
//   NORZA-DEVICE-HELPER 1          NORZA-DEVICE-HELPER 1
//   STATE <1 enable|2 disable>     INSTALL <button id>
//   ID <hex>   (one per device)    DIR <hex>
//   END                            NAME <hex>
//                                  HWID <hex>
//                                  END
// Texts travel as hexadecimal bytes, so no byte of theirs can end a line.
//
// Answer (the helper's standard output, then exit code 0):
//   one status line per device, in request order      INSTALLED <0|1> <error>
//   END                                               END
#pragma once

#include <cstddef>
#include <cstdint>

namespace helper {

// Instance IDs and installer texts: at most 199 characters.
constexpr std::size_t kMaxText = 199;
// More devices than this in one request is not a request of ours.
constexpr std::size_t kMaxDevices = 4096;

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
  void AppendHex(const char* text);
  void AppendNumber(int64_t value);

  const char* data() const { return data_ != nullptr ? data_ : ""; }
  std::size_t size() const { return size_; }
  bool ok() const { return ok_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool ok_ = true;
};

// Writers.
void WriteStateChangeRequest(Text& out, uint32_t stateChange, const char* const* ids, std::size_t count);
void WriteInstallRequest(Text& out, int32_t buttonId, const char* infDir, const char* infName,
                         const char* hardwareId);
void WriteInstallAnswer(Text& out, bool installed, uint32_t error);
extern const char kAnswerEnd[];  // "END\n", the last line of every answer

// A request as the helper reads it. Texts are NUL-terminated.
struct Request {
  enum class Kind { StateChange, Install };
  Kind kind = Kind::StateChange;
  uint32_t stateChange = 0;  // 1 enable, 2 disable
  std::size_t idCount = 0;
  char (*ids)[kMaxText + 1] = nullptr;  // idCount entries, owned
  int32_t buttonId = 0;
  char infDir[kMaxText + 1] = {};
  char infName[kMaxText + 1] = {};
  char hardwareId[kMaxText + 1] = {};

  Request() = default;
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
};

// Reads a whole request; false, for anything that is not exactly one request.
bool ParseRequest(const char* data, std::size_t size, Request& out);

// Reads a state-change answer for `ids` (in request order): one status line
// per device carrying one of `words`, then the end line and nothing more.
// chosen[i] receives the index in `words` of device i's word. False for
// anything else.
bool ParseStateChangeAnswer(const char* data, std::size_t size, const char* const* ids, std::size_t count,
                            const char* const* words, std::size_t wordCount, std::size_t* chosen);

// Reads an installation answer. A success carries error 0, a failure an error
// other than 0; false for anything else.
bool ParseInstallAnswer(const char* data, std::size_t size, bool* installed, uint32_t* error);

}  // namespace helper
