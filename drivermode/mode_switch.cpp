#include "drivermode/mode_switch.h"

#include "devicecontrol/helper_step.h"
#include "drivermode/mode_functions.h"
#include "helperrun/device_helper_run.h"
#include "platform/rights.h"
#include "platform/wow64.h"

namespace drivermode {

namespace {

// The route this process's bitness calls for, asked of the platform, never
// found out by failing first.
Route ByBitness() { return platform::RunsUnderWow64() ? Route::ThroughHelper : Route::InProcess; }

}  // namespace

Route ChooseRoute() { return platform::ProcessIsElevated() ? ByBitness() : Route::ThroughElevatedRun; }

SwitchOutcome TallyStep(const devicecontrol::StateChangeBatch* batches, int count) {
  SwitchOutcome outcome;
  for (int b = 0; b < count; ++b) {
    const devicecontrol::DeviceStateChangeContext& context = batches[b].outcome;
    outcome.selected += context.devicesSelected;
    outcome.failed += context.devicesSelected - context.devicesChanged;
    outcome.restart = outcome.restart || context.restartRequired != 0;
    if (outcome.firstError == 0) outcome.firstError = context.firstError;
    const int32_t walk = batches[b].result;
    outcome.unlisted = outcome.unlisted || (walk != devicecontrol::Success && walk != devicecontrol::NoPatterns);
  }
  return outcome;
}

SwitchOutcome ApplyDriverMode(DriverMode mode) {
  devicecontrol::StateChangeBatch batches[2];
  ModeStep(mode, batches);
  // The same limit either way: the elevated run answers before the panel gives up.
  const bool finished =
      ByBitness() == Route::ThroughHelper
          ? devicecontrol::ChangeThroughHelper(batches, 2) != devicecontrol::RunOutcome::TimedOut
          : devicecontrol::ChangeInProcess(batches, 2, helperrun::kDeviceStepHelperWait);
  SwitchOutcome outcome = TallyStep(batches, 2);
  outcome.unknown = !finished;
  return outcome;
}

}  // namespace drivermode
