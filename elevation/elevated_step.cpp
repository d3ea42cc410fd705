#include "elevation/elevated_step.h"

#include "elevation/elevated_run.h"
#include "elevation/elevation_protocol.h"
#include "devicecontrol/handed_over.h"
#include "drivermode/mode_functions.h"

namespace elevation {

SwitchOutcome SwitchInElevatedRun(int mode, bool storeAlone) {
  StateChangeBatch batches[2];
  ModeStep(mode, batches);
  HandedOverStep step(batches, 2);
  SwitchOutcome outcome;
  bool answered = false;
  // It finds the same functions, and prints a line for each, those in state too.
  if ((step.toChange() != 0 || storeAlone) && step.Expect(true)) {
    platform::ProcessRun run;
    if (!RunElevated(mode, &run)) {
      const DWORD error = ::GetLastError();
      // Only a refusal is the user's; any other failure to start is the machine's.
      outcome.consentMissing = error == ERROR_CANCELLED;
      if (!outcome.consentMissing) outcome.startError = error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    } else {
      bool stored = false;
      answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated && !run.timedOut &&
                 ParseAnswer(run.output, run.outputSize, step.expected(), step.expectedCount(), step.answers(),
                             &stored);
      // A run given up at the panel's limit, or one whose own switch was cut
      // short at its limit, said before it switched whether it stored the
      // mode; what it did with the functions is not known.
      outcome.unknown = run.timedOut || (run.exitCode == ERROR_TIMEOUT && !run.outputTruncated);
      outcome.stillRunning = run.stillRunning;
      outcome.stored = answered ? stored : outcome.unknown && AnswerSaysStored(run.output, run.outputSize);
      platform::FreeProcessRun(&run);
    }
  }
  step.Report(answered);
  const SwitchOutcome tally = TallyStep(batches, 2);
  outcome.selected = tally.selected;
  outcome.failed = tally.failed;
  return outcome;
}

}  // namespace elevation
