// What the control panel without the rights and its own elevated run say to
// each other. The panel starts its own file through the elevation request
// with nothing but the mode and the pipe that takes the answer:
//   kelvane.exe --switch-elevated <0 WDM|1 ASIO> \\.\pipe\norza-<16 hex digits>
// The run finds the Norza's functions itself and answers through that pipe:
//   STORED <0|1>   (whether the mode is in the registry now; said before it switches)
//   DEVICE <hex id> <status> <error>, per function, in the order of an
//     ordinary switch (wire/status_line.h)
//   END
// No platform headers: both sides build and read it alike, and it is tested
// natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drivermode/mode_store.h"
#include "wire/status_line.h"
#include "wire/text.h"

namespace elevation {

extern const char kRunOption[];  // "--switch-elevated"
// The answer pipe's name: this prefix and 16 lower-case hexadecimal digits.
extern const char kAnswerPipePrefix[];  // "\\.\pipe\norza-"
constexpr std::size_t kAnswerPipeNameSize = 15 + 16 + 1;  // terminator included

// The answer pipe's name for 64 random bits.
void MakeAnswerPipeName(uint64_t random, char (&name)[kAnswerPipeNameSize]);

// The one message the elevated run is given: its arguments, declared once.
struct Command {
  drivermode::DriverMode mode = drivermode::WDM;
  const char* answerPipe = nullptr;  // borrowed from the command line
};

// Whether a command line (argv as the runtime splits it, argv[0] the
// program) asks for the elevated run: its first argument is the option. Any
// other command line starts the panel itself.
bool IsElevatedRunStart(int argc, const char* const* argv);
// The parameters that follow the program's path.
void WriteCommandLine(wire::Text& out, const Command& command);
// True only for exactly the option, "0" or "1", and a pipe name of exactly the
// form above: an elevated program is told nothing else, and writes nowhere
// else.
bool ParseCommandLine(int argc, const char* const* argv, Command* command);

// The answer's first line.
void WriteAnswerStart(wire::Text& out, bool stored);
// The answer: whether the mode was stored, then the outcome of each function
// into `slots` (wire::ReadOutcomes), then the end line. False for anything
// else.
bool ParseAnswer(const char* data, std::size_t size, wire::DeviceOutcome* const* slots, std::size_t count,
                 bool* stored);
// What an answer cut short (a run given up at the panel's limit) still
// tells: whether its first line says the mode was stored.
bool AnswerSaysStored(const char* data, std::size_t size);

}  // namespace elevation
