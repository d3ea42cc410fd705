#include "state_change.h"

#include <cstdlib>

#include "device_control.h"
#include "device_status.h"
#include "platform/pumping_wait.h"
#include "platform/unique_handle.h"

namespace {

SP_PROPCHANGE_PARAMS PropertyChange(DWORD stateChange, DWORD scope) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = scope;
  params.HwProfile = 0;  // the current hardware profile
  return params;
}

}  // namespace

DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange) {
  return DeviceStateChangeContext{0, stateChange, 0, stateChange == DICS_ENABLE ? "Enabled" : "Disabled",
                                  "Reboot", "Fail", 0};
}

bool AlreadyInState(PSP_DEVINFO_DATA element, DWORD stateChange) {
  ULONG status = 0, problem = 0;
  if (platform::CM_Get_DevNode_Status(&status, &problem, element->DevInst, 0) != CR_SUCCESS) return false;
  if (stateChange == DICS_ENABLE) return (status & DN_STARTED) != 0 && (status & DN_HAS_PROBLEM) == 0;
  return (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED;
}

int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* change = static_cast<DeviceStateChangeContext*>(context);
  ++change->devicesSelected;

  if (AlreadyInState(element, change->stateChange)) {
    PrintDeviceStatus(set, element, change->doneText);
    ++change->devicesChanged;
    return 0;
  }

  // Enabling also clears a global disable; neither step's outcome decides anything.
  if (change->stateChange == DICS_ENABLE) {
    SP_PROPCHANGE_PARAMS global = PropertyChange(DICS_ENABLE, DICS_FLAG_GLOBAL);
    platform::SetupDiSetClassInstallParamsA(set, element, &global.ClassInstallHeader, sizeof(global));
    platform::SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, element);
  }

  SP_PROPCHANGE_PARAMS params = PropertyChange(change->stateChange, DICS_FLAG_CONFIGSPECIFIC);
  if (!platform::SetupDiSetClassInstallParamsA(set, element, &params.ClassInstallHeader, sizeof(params)) ||
      !platform::SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, element)) {
    PrintDeviceStatus(set, element, change->failText);
    return 0;
  }

  SP_DEVINSTALL_PARAMS_A installParams{};
  installParams.cbSize = sizeof(installParams);
  if (platform::SetupDiGetDeviceInstallParamsA(set, element, &installParams) &&
      (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
    PrintDeviceStatus(set, element, change->restartText);
    change->restartRequired = 1;
  } else {
    PrintDeviceStatus(set, element, change->doneText);
  }
  ++change->devicesChanged;
  return 0;
}

void BeginStep(StateChangeBatch* batches, std::size_t count) {
  for (std::size_t b = 0; b < count; ++b) batches[b].outcome = MakeStateChangeContext(batches[b].stateChange);
}

namespace {

void ChangeNow(StateChangeBatch* batches, std::size_t count) {
  BeginStep(batches, count);
  CDeviceControl control;
  for (std::size_t b = 0; b < count; ++b) {
    batches[b].result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, batches[b].count, batches[b].patterns,
                                                      ApplyStateChange, &batches[b].outcome);
  }
}

// A step on a thread of its own, with its own copy of the batches: given up,
// it may still run after its caller has returned. Whichever of the two is
// done with it last frees it.
struct ThreadStep {
  LONG references;
  std::size_t count;
  StateChangeBatch batches[kMaxStepBatches];
};

void Release(ThreadStep* step) {
  if (::InterlockedDecrement(&step->references) == 0) std::free(step);
}

DWORD WINAPI RunThreadStep(void* context) {
  auto* step = static_cast<ThreadStep*>(context);
  ChangeNow(step->batches, step->count);
  UnmuteStatusLines(::GetCurrentThreadId());
  Release(step);
  return 0;
}

}  // namespace

bool ChangeInProcess(StateChangeBatch* batches, std::size_t count, DWORD limit) {
  if (count > kMaxStepBatches) count = kMaxStepBatches;
  auto* step = static_cast<ThreadStep*>(std::malloc(sizeof(ThreadStep)));
  platform::unique_kernel_handle thread;
  if (step != nullptr) {
    step->references = 2;
    step->count = count;
    for (std::size_t b = 0; b < count; ++b) step->batches[b] = batches[b];
    thread.reset(::CreateThread(nullptr, 0, RunThreadStep, step, 0, nullptr));
  }
  if (!thread) {  // no room for a thread: the step runs here, without a limit
    std::free(step);
    ChangeNow(batches, count);
    return true;
  }
  const bool finished = platform::WaitPumpingMessages(thread.get(), limit);
  if (finished) {
    for (std::size_t b = 0; b < count; ++b) batches[b] = step->batches[b];
  } else {
    // What it did not report by now is not known; what it reports later
    // must not reach an answer that has ended.
    MuteStatusLines(::GetThreadId(thread.get()));
    BeginStep(batches, count);
  }
  Release(step);
  return finished;
}
