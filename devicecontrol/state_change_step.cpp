#include "devicecontrol/state_change_step.h"

#include "devicecontrol/device_control.h"
#include "helperrun/device_helper_run.h"
#include "devicecontrol/helper_step.h"
#include "platform/wow64.h"

namespace {

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      DeviceStateChangeContext* outcome) {
  StateChangeBatch batch{count, patterns, stateChange, {}, 0};
  ChangeDeviceStates(&batch, 1);
  if (outcome != nullptr) *outcome = batch.outcome;
  return batch.result;
}

}  // namespace

bool ChangeDeviceStates(StateChangeBatch* batches, std::size_t count) {
  if (count > kMaxStepBatches) count = kMaxStepBatches;
  if (platform::RunsUnderWow64()) return ChangeThroughHelper(batches, count) != RunOutcome::TimedOut;
  // The same limit as through the helper.
  return ChangeInProcess(batches, count, helperrun::kDeviceStepHelperWait);
}

int32_t CDeviceControl::EnableDevices(int32_t count, const char* const* patterns,
                                     DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_ENABLE, outcome);
}

int32_t CDeviceControl::DisableDevices(int32_t count, const char* const* patterns,
                                      DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_DISABLE, outcome);
}
