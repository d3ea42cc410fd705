// The line protocol between a Norza program and the 64-bit device helper it
// starts. No platform headers: the texts are built and read the same way on
// both sides, and tested natively.
//
// Request (the helper's standard input, or hexadecimal on its command line
// when it is started with elevation), one of:
//   NORZA-DEVICE-HELPER 1              NORZA-DEVICE-HELPER 1
//   MODE <0 WDM|1 ASIO>   (optional)   INSTALL <button id>
//   STATE <1 enable|2 disable>         DIR <hex>
//   ID <hex>   (one per device)        NAME <hex>
//   STATE ...  (a second batch)        HWID <hex>
//   ID <hex>                           END
//   END
// A state-change request stores its mode first, then changes its batches in
// order; it holds a mode, a batch, or both. Texts travel as hexadecimal
// bytes, so no byte of theirs can end a line.
//
// Answer (the helper's standard output, or its answer pipe, then exit code 0):
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
// Enabling one mode's functions, then disabling the other's.
constexpr std::size_t kMaxBatches = 2;
// The status words a device's line may carry: done, needs a restart, failed.
constexpr std::size_t kStatusWords = 3;

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

// Writers. A state-change request is begun (with the mode to store first,
// or -1 for none), given its batches, and ended.
void BeginStateChangeRequest(Text& out, int32_t mode);
void AppendStateChangeBatch(Text& out, uint32_t stateChange, const char* const* ids, std::size_t count);
void EndRequest(Text& out);
// A request of one batch and no mode.
void WriteStateChangeRequest(Text& out, uint32_t stateChange, const char* const* ids, std::size_t count);
void WriteInstallRequest(Text& out, int32_t buttonId, const char* infDir, const char* infName,
                         const char* hardwareId);
void WriteInstallAnswer(Text& out, bool installed, uint32_t error);
extern const char kAnswerEnd[];  // "END\n", the last line of every answer

// A request as the helper reads it. Texts are NUL-terminated.
struct Request {
  enum class Kind { StateChange, Install };
  Kind kind = Kind::StateChange;
  int32_t mode = -1;  // the driver mode to store before any change; -1: none
  struct Batch {
    uint32_t stateChange = 0;  // 1 enable, 2 disable
    std::size_t first = 0;     // its devices: ids[first] ... ids[first + count - 1]
    std::size_t count = 0;
  } batches[kMaxBatches];
  std::size_t batchCount = 0;
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
// Writes a request that was read back, byte for byte as it was written.
void WriteRequest(Text& out, const Request& request);

// One line of a state-change answer as the caller expects it: the device and
// the status words of its batch (done, restart, fail).
struct ExpectedLine {
  const char* id;
  const char* const* words;  // kStatusWords of them
};

// Reads a state-change answer: one status line per expected line, in order,
// each carrying one of its words, then the end line and nothing more.
// chosen[i] receives the index of line i's word. False for anything else.
bool ParseStateChangeAnswer(const char* data, std::size_t size, const ExpectedLine* expected, std::size_t count,
                            std::size_t* chosen);

// A request as hexadecimal digits, for a command line, and back; decoding
// refuses anything that is not pairs of digits as AppendHex writes them, or
// that is longer than kMaxCommandLineRequest digits.
constexpr std::size_t kMaxCommandLineRequest = 16384;
void WriteHexRequest(Text& out, const char* request, std::size_t size);
bool ReadHexRequest(const char* hex, Text& out);

// Reads an installation answer. A success carries error 0, a failure an error
// other than 0; false for anything else.
bool ParseInstallAnswer(const char* data, std::size_t size, bool* installed, uint32_t* error);

}  // namespace helper
