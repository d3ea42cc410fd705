// The line protocols the Norza programs speak with each other. No platform
// headers: the texts are built and read the same way on both sides, and
// tested natively.
//
// 1. A 32-bit program and the 64-bit device helper it starts, with its own
// rights, on 64-bit Windows. Request (the helper's standard input), one of:
//   NORZA-DEVICE-HELPER 1              NORZA-DEVICE-HELPER 1
//   STATE <1 enable|2 disable>         INSTALL <button id>
//   ID <hex>   (one per device)        DIR <hex>
//   STATE ...  (a second batch)        NAME <hex>
//   ID <hex>                           HWID <hex>
//   END                                END
// A state-change request changes its batches in order. Texts travel as
// hexadecimal bytes, so no byte of theirs can end a line.
//
// Answer (the helper's standard output, then exit code 0):
//   one status line per device, in request order      INSTALLED <0|1> <error>
//   END                                               END
//
// 2. The control panel without the rights and its own elevated run, started
// through the elevation request with nothing but the mode and the pipe that
// takes the answer:
//   kelvane.exe --switch-elevated <0 WDM|1 ASIO> \\.\pipe\norza-<16 hex digits>
// It finds the Norza's functions itself and answers through that pipe:
//   one status line per function, in the order of an ordinary switch
//   STORED <0|1>   (whether the mode is in the registry now)
//   END
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

// Writers. A state-change request is begun, given its batches, and ended.
void BeginStateChangeRequest(Text& out);
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

// The elevated run's answer as ParseStateChangeAnswer reads the lines, then
// whether the mode was stored. False for anything else.
bool ParseSwitchAnswer(const char* data, std::size_t size, const ExpectedLine* expected, std::size_t count,
                       std::size_t* chosen, bool* stored);
// The elevated run's last two lines.
void WriteSwitchAnswerEnd(Text& out, bool stored);

// The elevated run's command line.
extern const char kSwitchElevatedOption[];  // "--switch-elevated"
// The answer pipe's name: this prefix and 16 lower-case hexadecimal digits.
extern const char kAnswerPipePrefix[];  // "\\.\pipe\norza-"
constexpr std::size_t kAnswerPipeNameSize = 15 + 16 + 1;  // terminator included
// The parameters that follow the program's path.
void WriteSwitchParameters(Text& out, int32_t mode, const char* pipeName);
// argv as the runtime splits the command line, argv[0] the program. True only
// for exactly the option, "0" or "1", and a pipe name of exactly the form
// above: an elevated program is told nothing else, and writes nowhere else.
bool ParseSwitchCommandLine(int argc, const char* const* argv, int32_t* mode, const char** pipeName);

// Reads an installation answer. A success carries error 0, a failure an error
// other than 0; false for anything else.
bool ParseInstallAnswer(const char* data, std::size_t size, bool* installed, uint32_t* error);

}  // namespace helper
