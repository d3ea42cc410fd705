#include "controlpanel/commands.h"

#include <windows.h>

#include <cstdio>

#include "controlpanel/mode_change.h"
#include "devicecontrol/device_status.h"
#include "drivermode/mode_functions.h"
#include "platform/rights.h"

namespace controlpanel {

namespace {

using drivermode::DriverMode;

void Say(const char* text) {
  std::fputs(text, devicecontrol::StatusOutput());
  std::fflush(devicecontrol::StatusOutput());
}

const char* ModeName(int mode) { return mode == drivermode::WDM ? "WDM" : mode == drivermode::ASIO ? "ASIO" : "none"; }

uint32_t SwitchMode(DriverMode mode) {
  // Never under a dialog, nor another --mode, that may be switching.
  platform::unique_kernel_handle instance(::CreateMutexA(nullptr, FALSE, kInstanceMutex));
  if (!instance || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    Say(kDialogIsOpen);
    return kExitBusy;
  }
  devicecontrol::SetStatusErrors(true);
  const bool storeAllowed = platform::TurnOffRegistryVirtualization();  // the machine's mode, or refused
  const int current = drivermode::ReadAudioMode();
  ModeChange change;
  drivermode::SwitchOutcome outcome;
  if (current == mode) {
    outcome = Reapply(mode, storeAllowed);  // the mode stored already: as an opening does
    change.stored = true;
  } else {
    change = BeginModeChange(mode, current, storeAllowed);
    outcome = FinishModeChange(change);
  }
  const uint32_t code = ModeExitCode(outcome, change.changed, change.stored);
  wire::Text said;
  said.Append(code == 0 || code == kExitRestart ? "The Norza is in " : "The Norza could not be put in ");
  said.Append(ModeName(mode));
  said.Append(" mode");
  if (code == kExitRestart) said.Append("; restart Windows for the change to take full effect");
  if (code != 0 && code != kExitRestart) {
    char hex[wire::kHexDigits32 + 1];
    wire::FormatHex(code, wire::kHexDigits32, true, hex);
    said.Append(": error 0x");
    said.Append(hex);
  }
  said.Append(".\n");
  said.Append("", 1);
  Say(said.ok() ? said.data() : "\n");
  return code;
}

uint32_t ShowStatus() {
  platform::TurnOffRegistryVirtualization();  // the machine's mode, never the user's own copy
  const int stored = drivermode::ReadAudioMode();
  const bool known = stored == drivermode::WDM || stored == drivermode::ASIO;
  Say("Stored mode: ");
  Say(ModeName(stored));
  Say("\n");
  // The functions of both modes, asked of the stored mode's step: in line
  // when each is in the state that step would leave it in.
  devicecontrol::StateChangeBatch batches[2];
  drivermode::ModeStep(known ? static_cast<DriverMode>(stored) : drivermode::WDM, batches);
  devicecontrol::Step step(batches, 2);
  bool inLine = known;
  for (std::size_t i = 0; i < step.deviceCount(); ++i) {
    devicecontrol::StepDevice& device = step.device(i);
    inLine = inLine && device.already;
    wire::Text word;
    devicecontrol::DescribeState(&device.element, &word);
    devicecontrol::PrintStatusLine(device.outcome.id[0] != '\0' ? device.outcome.id : "?",
                                   word.ok() ? word.data() : "unknown");
  }
  for (std::size_t b = 0; b < step.batchCount(); ++b) {
    if (step.batch(b).result == devicecontrol::Failure) {
      Say("The Norza's functions could not all be listed.\n");
      return kExitOutOfLine;
    }
  }
  if (step.deviceCount() == 0) return kExitNoFunction;
  return inLine ? 0 : kExitOutOfLine;
}

}  // namespace

uint32_t RunCommand(const Command& command) {
  switch (command.kind) {
    case CommandKind::Mode:
      return SwitchMode(command.mode);
    case CommandKind::Status:
      return ShowStatus();
    case CommandKind::Help:
      Say(kUsage);
      return 0;
    default:
      Say(kUsage);
      return kExitBadArguments;
  }
}

}  // namespace controlpanel
