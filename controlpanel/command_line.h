// The control panel's commands for scripts: `--mode wdm|asio`, `--status`,
// `--help`. Text logic without platform headers, apart from the elevated
// run's command line (elevation/elevation_protocol.h), which is checked
// before this and shares nothing with it.
#pragma once

#include <cstdint>

#include "drivermode/mode_switch.h"

namespace controlpanel {

enum class CommandKind { Dialog, Mode, Status, Help, Invalid };

struct Command {
  CommandKind kind = CommandKind::Invalid;
  drivermode::DriverMode mode = drivermode::WDM;  // for Mode
};

// No argument: the dialog. `--mode wdm` or `--mode asio` (either case),
// `--status`, `--help` or `/?` alone; anything else is Invalid.
Command ParseCommandLine(int argc, const char* const* argv);

// What the usage says, and --mode's refusal while the dialog (or another
// --mode) runs.
extern const char kUsage[];
extern const char kDialogIsOpen[];

// Exit codes a deployment tool reads.
constexpr uint32_t kExitRestart = 3010;      // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr uint32_t kExitBadArguments = 87;   // ERROR_INVALID_PARAMETER
constexpr uint32_t kExitBusy = 170;          // ERROR_BUSY
constexpr uint32_t kExitOutOfLine = 1;       // --status: the functions do not follow the mode, or none is stored
constexpr uint32_t kExitNoFunction = 2;      // --status: no Norza function is present

// --mode's exit code: ERROR_TIMEOUT for a switch cut short at its limit;
// the platform's error of the first function that failed; ERROR_CANCELLED
// for a refused consent; why the elevated run could not start;
// ERROR_GEN_FAILURE for functions that could not be listed;
// ERROR_ACCESS_DENIED for a mode that could not be stored; else 3010 when the stored
// mode changed or a function waits for a restart; else 0. An error is never
// 0 or 3010.
uint32_t ModeExitCode(const drivermode::SwitchOutcome& outcome, bool changed, bool stored);

}  // namespace controlpanel
