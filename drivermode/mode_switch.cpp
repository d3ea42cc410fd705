#include "drivermode/mode_switch.h"

#include "drivermode/mode_functions.h"
#include "devicecontrol/state_change_step.h"

SwitchOutcome TallyStep(const StateChangeBatch* batches, int count) {
  SwitchOutcome outcome;
  for (int b = 0; b < count; ++b) {
    outcome.selected += batches[b].outcome.devicesSelected;
    outcome.failed += batches[b].outcome.devicesSelected - batches[b].outcome.devicesChanged;
  }
  return outcome;
}

SwitchOutcome ApplyDriverMode(int mode) {
  StateChangeBatch batches[2];
  ModeStep(mode, batches);
  const bool finished = ChangeDeviceStates(batches, 2);
  SwitchOutcome outcome = TallyStep(batches, 2);
  outcome.unknown = !finished;
  return outcome;
}
