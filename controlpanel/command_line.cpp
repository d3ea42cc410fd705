#include "controlpanel/command_line.h"

#include <cstring>

#include "devicecontrol/device_pattern.h"

namespace controlpanel {

namespace {

// Platform errors for what is not a function's (winerror.h's values).
constexpr uint32_t kCancelled = 1223;      // ERROR_CANCELLED: consent refused
constexpr uint32_t kAccessDenied = 5;      // ERROR_ACCESS_DENIED: the mode could not be stored
constexpr uint32_t kTimeout = 1460;        // ERROR_TIMEOUT
constexpr uint32_t kGeneralFailure = 31;   // ERROR_GEN_FAILURE

}  // namespace

const char kUsage[] =
    "Usage: kelvane.exe [--mode wdm|asio | --status | --help]\n"
    "  (none)       open the Norza Driver Control dialog\n"
    "  --mode MODE  store the driver mode and switch the Norza's functions to it, without\n"
    "               a dialog; exit 0 when already in that mode, 3010 when a restart is\n"
    "               needed, otherwise the error of the first function that failed\n"
    "  --status     print the stored mode and each present function's state; exit 0 in\n"
    "               line, 1 out of line or no mode stored, 2 no Norza function present\n";

const char kDialogIsOpen[] =
    "The Norza Driver Control dialog is open, or another --mode is running: nothing was changed. Close the "
    "dialog and run this again.\n";

Command ParseCommandLine(int argc, const char* const* argv) {
  Command command;
  if (argc <= 1) {
    command.kind = CommandKind::Dialog;
  } else if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "/?") == 0)) {
    command.kind = CommandKind::Help;
  } else if (argc == 2 && std::strcmp(argv[1], "--status") == 0) {
    command.kind = CommandKind::Status;
  } else if (argc == 3 && std::strcmp(argv[1], "--mode") == 0 && argv[2] != nullptr) {
    if (devicecontrol::EqualText(argv[2], "wdm")) command.kind = CommandKind::Mode;
    if (devicecontrol::EqualText(argv[2], "asio")) {
      command.kind = CommandKind::Mode;
      command.mode = drivermode::ASIO;
    }
  }
  return command;
}

uint32_t ModeExitCode(const drivermode::SwitchOutcome& outcome, bool changed, bool stored) {
  uint32_t error = 0;
  if (outcome.unknown) {
    error = kTimeout;
  } else if (outcome.failed != 0) {
    error = outcome.firstError;
  } else if (outcome.consentMissing) {
    error = kCancelled;
  } else if (outcome.startError != 0) {
    error = outcome.startError;
  } else if (outcome.unlisted) {
    error = kGeneralFailure;
  } else if (!stored) {
    error = kAccessDenied;
  } else {
    return changed || outcome.restart ? kExitRestart : 0;
  }
  return error == 0 || error == kExitRestart ? kGeneralFailure : error;
}

}  // namespace controlpanel
