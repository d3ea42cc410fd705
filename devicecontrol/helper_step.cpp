#include "devicecontrol/helper_step.h"

#include "wire/helper_protocol.h"
#include "helperrun/device_helper_run.h"

namespace {

RunOutcome RunHelper(HandedOverStep& step) {
  if (step.toChange() == 0) return RunOutcome::NotNeeded;
  helper::StateChangeRequest request;
  for (std::size_t b = 0; b < step.batchCount(); ++b) {
    bool begun = false;
    for (std::size_t i = 0; i < step.devices(b); ++i) {
      if (!ToBeChanged(step.device(b, i))) continue;
      if (!begun && !request.BeginBatch(step.batch(b).stateChange)) return RunOutcome::Failed;
      begun = true;
      if (!request.AddDevice(step.device(b, i).id)) return RunOutcome::Failed;
    }
  }
  wire::Text text;
  helper::WriteStateChangeRequest(text, request);
  if (!text.ok() || !step.Expect(false)) return RunOutcome::Failed;

  platform::ProcessRun run;
  if (!helperrun::RunDeviceHelper(text.data(), text.size(), helperrun::kDeviceStepHelperWait, &run)) {
    return RunOutcome::NotStarted;
  }
  const bool answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated && !run.timedOut &&
                        helper::ParseStateChangeAnswer(run.output, run.outputSize, step.expected(),
                                                       step.expectedCount(), step.answers());
  const bool timedOut = run.timedOut;
  platform::FreeProcessRun(&run);
  if (timedOut) return RunOutcome::TimedOut;
  return answered ? RunOutcome::Answered : RunOutcome::Failed;
}

}  // namespace

RunOutcome ChangeThroughHelper(StateChangeBatch* batches, std::size_t count) {
  HandedOverStep step(batches, count);
  const RunOutcome outcome = RunHelper(step);
  step.Report(outcome == RunOutcome::Answered);
  return outcome;
}
