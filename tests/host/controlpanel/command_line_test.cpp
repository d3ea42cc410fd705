// The commands for scripts: what a command line asks for, and the exit code a
// deployment tool reads after --mode (the switch's own cases are run on the
// simulated machine).
#include <gtest/gtest.h>

#include <vector>

#include "controlpanel/command_line.h"

namespace {

using controlpanel::CommandKind;

TEST(CommandLineTest, TakesExactlyTheCommandsAndNothingElse) {
  const std::vector<std::pair<std::vector<const char*>, CommandKind>> cases = {
      {{}, CommandKind::Dialog},          {{"--mode", "Asio"}, CommandKind::Mode},
      {{"--status"}, CommandKind::Status}, {{"--help"}, CommandKind::Help},
      {{"/?"}, CommandKind::Help},         {{"--mode"}, CommandKind::Invalid},
      {{"--mode", "asio2"}, CommandKind::Invalid}, {{"--mode", ""}, CommandKind::Invalid},
      {{"--mode", "1"}, CommandKind::Invalid},     {{"--status", "x"}, CommandKind::Invalid},
      {{"--STATUS"}, CommandKind::Invalid},        {{"--switch-elevated", "1"}, CommandKind::Invalid}};
  for (const auto& c : cases) {
    std::vector<const char*> argv{"kelvane.exe"};
    argv.insert(argv.end(), c.first.begin(), c.first.end());
    EXPECT_EQ(controlpanel::ParseCommandLine(static_cast<int>(argv.size()), argv.data()).kind, c.second)
        << (argv.size() > 1 ? argv[1] : "") << " " << (argv.size() > 2 ? argv[2] : "");
  }
  const char* wdm[] = {"kelvane.exe", "--mode", "WDM"};
  EXPECT_EQ(controlpanel::ParseCommandLine(3, wdm).mode, drivermode::WDM);
}

// Never 0 or 3010 for a failure, whatever the error said; a switch cut short
// is a timeout; a mode that could not be stored is no rights.
TEST(CommandLineTest, ModeExitCodeIsAnErrorWheneverSomethingFailed) {
  drivermode::SwitchOutcome outcome{3, 1, 0};
  EXPECT_EQ(controlpanel::ModeExitCode(outcome, true, true), 31u);
  outcome.firstError = 3010;
  EXPECT_EQ(controlpanel::ModeExitCode(outcome, true, true), 31u);
  outcome.unknown = true;
  EXPECT_EQ(controlpanel::ModeExitCode(outcome, true, true), 1460u);
  EXPECT_EQ(controlpanel::ModeExitCode(drivermode::SwitchOutcome{3}, true, false), 5u);
  drivermode::SwitchOutcome unlisted{0};
  unlisted.unlisted = true;
  EXPECT_EQ(controlpanel::ModeExitCode(unlisted, true, true), 31u);
  EXPECT_EQ(controlpanel::ModeExitCode(drivermode::SwitchOutcome{0}, true, true), 3010u);  // no function present
}

}  // namespace
