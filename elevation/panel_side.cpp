#include "elevation/panel_side.h"

#include "drivermode/mode_functions.h"
#include "elevation/elevation_protocol.h"
#include "elevation/run_start.h"

namespace elevation {

namespace {

using devicecontrol::Step;

// Runs the elevated run and takes its answer into the step's outcomes (it
// finds the same functions, and answers for each, those in state too);
// `outcome` learns whether it stored the mode, or why it did not run.
bool RunAndRead(drivermode::DriverMode mode, Step& step, drivermode::SwitchOutcome* outcome, DWORD* error) {
  wire::Growing<wire::DeviceOutcome*> slots;
  if (!step.HandOver(true, &slots)) return false;
  helperrun::ProcessRun run;
  if (!RunElevated(mode, &run)) {
    *error = ::GetLastError();
    // Only a refusal is the user's; any other failure to start is the machine's.
    outcome->consentMissing = *error == ERROR_CANCELLED;
    if (!outcome->consentMissing) outcome->startError = *error != ERROR_SUCCESS ? *error : ERROR_GEN_FAILURE;
    return false;
  }
  bool stored = false;
  const bool answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated && !run.timedOut &&
                        ParseAnswer(run.output, run.outputSize, slots.data(), slots.size(), &stored);
  // A run given up at the panel's limit, or one whose own switch was cut
  // short at its limit, said before it switched whether it stored the mode;
  // what it did with the functions is not known.
  outcome->unknown = run.timedOut || (run.exitCode == ERROR_TIMEOUT && !run.outputTruncated);
  outcome->stillRunning = run.stillRunning;
  outcome->stored = answered ? stored : outcome->unknown && AnswerSaysStored(run.output, run.outputSize);
  *error = run.timedOut || run.exitCode == ERROR_TIMEOUT ? ERROR_TIMEOUT : ERROR_INVALID_DATA;
  helperrun::FreeProcessRun(&run);
  return answered;
}

}  // namespace

drivermode::SwitchOutcome SwitchInElevatedRun(drivermode::DriverMode mode, bool storeAlone) {
  devicecontrol::StateChangeBatch batches[2];
  drivermode::ModeStep(mode, batches);
  Step step(batches, 2);
  drivermode::SwitchOutcome outcome;
  DWORD error = ERROR_GEN_FAILURE;
  const bool asked = step.ToChangeCount() != 0 || storeAlone;
  // Without an answer, what needed no change still reads as done.
  // Why a run that did not answer did not is known once it has been tried.
  const bool answered = asked && RunAndRead(mode, step, &outcome, &error);
  step.Settle(true, answered, error);
  step.Report();
  const drivermode::SwitchOutcome tally = drivermode::TallyStep(batches, 2);
  outcome.selected = tally.selected;
  outcome.failed = tally.failed;
  outcome.firstError = outcome.consentMissing ? ERROR_CANCELLED : tally.firstError;
  outcome.restart = tally.restart;
  return outcome;
}

}  // namespace elevation
