#include "devicecontrol/state_change.h"

#include <cstdlib>

#include "devicecontrol/device_control.h"
#include "devicecontrol/device_status.h"
#include "devicecontrol/step_selection.h"
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
  char id[kInstanceIdSize];
  ReadInstanceId(set, element, id);
  ChangeState(set, element, id, static_cast<DeviceStateChangeContext*>(context));
  return 0;
}

void ChangeState(HDEVINFO set, PSP_DEVINFO_DATA element, const char* id, DeviceStateChangeContext* change) {
  if (id[0] == '\0') id = "?";  // what its line says of a device whose ID cannot be read
  ++change->devicesSelected;

  if (AlreadyInState(element, change->stateChange)) {
    PrintStatusLine(id, change->doneText);
    ++change->devicesChanged;
    return;
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
    PrintStatusLine(id, change->failText);
    return;
  }

  SP_DEVINSTALL_PARAMS_A installParams{};
  installParams.cbSize = sizeof(installParams);
  if (platform::SetupDiGetDeviceInstallParamsA(set, element, &installParams) &&
      (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
    PrintStatusLine(id, change->restartText);
    change->restartRequired = 1;
  } else {
    PrintStatusLine(id, change->doneText);
  }
  ++change->devicesChanged;
}

void BeginStep(StateChangeBatch* batches, std::size_t count) {
  for (std::size_t b = 0; b < count; ++b) batches[b].outcome = MakeStateChangeContext(batches[b].stateChange);
}

namespace {

// Selects the step's devices (one walk), then changes them batch after batch.
void ChangeNow(StateChangeBatch* batches, std::size_t count) {
  BeginStep(batches, count);
  PatternList lists[kMaxStepBatches];
  DWORD changes[kMaxStepBatches];
  for (std::size_t b = 0; b < count; ++b) {
    lists[b] = PatternList{batches[b].count, batches[b].patterns};
    changes[b] = batches[b].stateChange;
  }
  StepSelection selection;
  selection.Select(lists, changes, count);
  for (std::size_t b = 0; b < count; ++b) {
    batches[b].result = selection.result(b);
    for (std::size_t i = 0; i < selection.devices(b); ++i) {
      SelectedDevice& device = selection.device(b, i);
      ChangeState(device.set, &device.element, device.id, &batches[b].outcome);
    }
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
