#include "devicecontrol/helper_step.h"

#include "helperrun/device_helper_run.h"
#include "wire/helper_protocol.h"

namespace devicecontrol {

namespace {

RunOutcome RunHelper(Step& step, DWORD* error) {
  *error = ERROR_GEN_FAILURE;
  wire::Growing<wire::DeviceOutcome*> slots;
  if (!step.HandOver(false, &slots)) return RunOutcome::Failed;
  if (slots.size() == 0) return RunOutcome::NotNeeded;
  wire::StateChangeRequest request;
  std::size_t batch = kMaxStepBatches;
  for (std::size_t i = 0; i < step.deviceCount(); ++i) {
    if (!step.ToChange(i)) continue;
    const StepDevice& d = step.device(i);
    if (d.batch != batch && !request.BeginBatch(step.batch(d.batch).stateChange)) return RunOutcome::Failed;
    batch = d.batch;
    if (!request.AddDevice(d.outcome.id)) return RunOutcome::Failed;
  }
  wire::Text text;
  wire::WriteStateChangeRequest(text, request);
  if (!text.ok()) return RunOutcome::Failed;

  helperrun::ProcessRun run;
  if (!helperrun::RunDeviceHelper(text.data(), text.size(), helperrun::kDeviceStepHelperWait, &run)) {
    *error = ::GetLastError();
    return RunOutcome::NotStarted;
  }
  const bool answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated && !run.timedOut &&
                        wire::ParseStateChangeAnswer(run.output, run.outputSize, slots.data(), slots.size());
  const bool timedOut = run.timedOut;
  *error = timedOut ? ERROR_TIMEOUT : run.exitCode != ERROR_SUCCESS ? ERROR_PROCESS_ABORTED : ERROR_INVALID_DATA;
  helperrun::FreeProcessRun(&run);
  if (timedOut) return RunOutcome::TimedOut;
  return answered ? RunOutcome::Answered : RunOutcome::Failed;
}

}  // namespace

RunOutcome ChangeThroughHelper(StateChangeBatch* batches, std::size_t count) {
  Step step(batches, count);
  DWORD error = ERROR_GEN_FAILURE;
  const RunOutcome outcome = RunHelper(step, &error);
  // A device in its state already, or one that cannot be named, is never handed over.
  step.Settle(false, outcome == RunOutcome::Answered, error);
  step.Report();
  return outcome;
}

}  // namespace devicecontrol
