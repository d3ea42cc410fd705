#include "state_change_step.h"

#include "device_control.h"
#include "helper_step.h"
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

DeviceRoute RouteByBitness() {
  return platform::RunsUnderWow64() ? DeviceRoute::Helper : DeviceRoute::InProcess;
}

RunOutcome ChangeDeviceStates(StateChangeBatch* batches, std::size_t count) {
  if (count > helper::kMaxBatches) count = helper::kMaxBatches;
  BeginStep(batches, count);
  if (RouteByBitness() == DeviceRoute::Helper) return ChangeThroughHelper(batches, count);
  ChangeInProcess(batches, count);
  return RunOutcome::NotNeeded;
}

int32_t CDeviceControl::EnableDevices(int32_t count, const char* const* patterns,
                                     DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_ENABLE, outcome);
}

int32_t CDeviceControl::DisableDevices(int32_t count, const char* const* patterns,
                                      DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_DISABLE, outcome);
}
