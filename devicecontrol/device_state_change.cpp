// Enabling and disabling the selected devices through the class installer's
// property-change request: in this process, or in the 64-bit device helper
// where this process may not change device states (a 32-bit process on 64-bit
// Windows, or one without an administrator's rights).
#include <cstdlib>
#include <cstring>

#include "device_control.h"
#include "helper_protocol.h"
#include "platform/device_helper.h"
#include "platform/rights.h"
#include "platform/unique_handle.h"

namespace {

constexpr std::size_t kDone = 0, kRestart = 1, kFail = 2;  // the words of a context, in this order

SP_PROPCHANGE_PARAMS PropertyChange(DWORD stateChange, DWORD scope) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = scope;
  params.HwProfile = 0;  // the current hardware profile
  return params;
}

// Whether the platform reports the device as already in the state asked for:
// running without a problem, or disabled. A state it cannot tell is not.
bool AlreadyInState(PSP_DEVINFO_DATA element, DWORD stateChange) {
  ULONG status = 0, problem = 0;
  if (platform::CM_Get_DevNode_Status(&status, &problem, element->DevInst, 0) != CR_SUCCESS) return false;
  if (stateChange == DICS_ENABLE) return (status & DN_STARTED) != 0 && (status & DN_HAS_PROBLEM) == 0;
  return (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED;
}

// The devices one batch selected, in the walk's order.
struct SelectedDevice {
  char id[kInstanceIdSize];  // "" when it could not be read
  bool already;              // already in the state asked for
};
struct SelectedDevices {
  DWORD stateChange = 0;
  platform::unique_malloc<SelectedDevice[]> devices;
  std::size_t count = 0;
  std::size_t capacity = 0;
};

int32_t RememberDevice(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* selected = static_cast<SelectedDevices*>(context);
  if (selected->count == selected->capacity) {
    const std::size_t capacity = selected->capacity == 0 ? 8 : selected->capacity * 2;
    void* grown = std::realloc(selected->devices.get(), capacity * sizeof(SelectedDevice));
    if (grown == nullptr) return Failure;
    selected->devices.release();
    selected->devices.reset(static_cast<SelectedDevice*>(grown));
    selected->capacity = capacity;
  }
  SelectedDevice& device = selected->devices[selected->count++];
  ReadInstanceId(set, element, device.id);
  device.already = AlreadyInState(element, selected->stateChange);
  return 0;
}

bool ToBeChanged(const SelectedDevice& device) { return device.id[0] != '\0' && !device.already; }

// One helper run for the whole step: the mode to store, then every device of
// every batch that must change. answers[] gets, per device handed over (in
// that order), the index of its word.
HelperRunOutcome RunInHelper(const StateChangeBatch* batches, const SelectedDevices* selected, std::size_t count,
                             DeviceRoute route, StateChangeStep* step, std::size_t* answers) {
  const bool elevated = route == DeviceRoute::ElevatedHelper;
  const int32_t storeMode = elevated ? step->storeMode : -1;
  std::size_t handedOver = 0;
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t i = 0; i < selected[b].count; ++i) handedOver += ToBeChanged(selected[b].devices[i]) ? 1 : 0;
  }
  if (handedOver == 0 && !(storeMode >= 0 && step->storeAlone)) return HelperRunOutcome::NotNeeded;

  const std::size_t slots = handedOver != 0 ? handedOver : 1;
  platform::unique_malloc<const char*[]> ids(static_cast<const char**>(std::malloc(slots * sizeof(const char*))));
  platform::unique_malloc<helper::ExpectedLine[]> expected(
      static_cast<helper::ExpectedLine*>(std::malloc(slots * sizeof(helper::ExpectedLine))));
  const char* words[helper::kMaxBatches][helper::kStatusWords];
  helper::Text request;
  if (!ids || !expected) return HelperRunOutcome::Failed;
  helper::BeginStateChangeRequest(request, storeMode);
  std::size_t n = 0;
  for (std::size_t b = 0; b < count; ++b) {
    const DeviceStateChangeContext& context = batches[b].outcome;
    words[b][kDone] = context.doneText;
    words[b][kRestart] = context.restartText;
    words[b][kFail] = context.failText;
    const std::size_t first = n;
    for (std::size_t i = 0; i < selected[b].count; ++i) {
      if (!ToBeChanged(selected[b].devices[i])) continue;
      ids[n] = selected[b].devices[i].id;
      expected[n] = helper::ExpectedLine{selected[b].devices[i].id, words[b]};
      ++n;
    }
    if (n != first) helper::AppendStateChangeBatch(request, context.stateChange, ids.get() + first, n - first);
  }
  helper::EndRequest(request);
  if (!request.ok()) return HelperRunOutcome::Failed;

  platform::DeviceHelperRun run;
  const BOOL ran = elevated ? platform::RunDeviceHelperElevated(request.data(), request.size(), &run)
                            : platform::RunDeviceHelper(request.data(), request.size(), &run);
  if (!ran) return HelperRunOutcome::NotStarted;
  const bool answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated &&
                        helper::ParseStateChangeAnswer(run.output, run.outputSize, expected.get(), n, answers);
  platform::FreeDeviceHelperRun(&run);
  if (answered && storeMode >= 0) step->stored = true;
  return answered ? HelperRunOutcome::Answered : HelperRunOutcome::Failed;
}

// Writes the status lines of a step that went through the helper, in the
// walk's order, counted as ApplyStateChange counts them. A device the helper
// did not answer for, or that cannot be named to it, reads "Fail".
void ReportHelperStep(StateChangeBatch* batches, const SelectedDevices* selected, std::size_t count,
                      bool answered, const std::size_t* answers) {
  std::size_t next = 0;
  for (std::size_t b = 0; b < count; ++b) {
    DeviceStateChangeContext& context = batches[b].outcome;
    const char* const words[] = {context.doneText, context.restartText, context.failText};
    for (std::size_t i = 0; i < selected[b].count; ++i) {
      const SelectedDevice& device = selected[b].devices[i];
      ++context.devicesSelected;
      std::size_t word = kFail;
      if (device.id[0] != '\0') {
        if (device.already) {
          word = kDone;
        } else {
          const std::size_t answer = next++;
          if (answered) word = answers[answer];
        }
      }
      PrintStatusLine(device.id[0] != '\0' ? device.id : "?", words[word]);
      if (word == kFail) continue;
      ++context.devicesChanged;
      if (word == kRestart) context.restartRequired = 1;
    }
  }
}

void ChangeInHelper(StateChangeBatch* batches, std::size_t count, DeviceRoute route, StateChangeStep* step) {
  SelectedDevices selected[helper::kMaxBatches];
  CDeviceControl control;
  std::size_t total = 0;
  for (std::size_t b = 0; b < count; ++b) {
    selected[b].stateChange = batches[b].stateChange;
    batches[b].result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, batches[b].count,
                                                      batches[b].patterns, RememberDevice, &selected[b]);
    total += selected[b].count;
  }
  platform::unique_malloc<std::size_t[]> answers(
      static_cast<std::size_t*>(std::malloc((total != 0 ? total : 1) * sizeof(std::size_t))));
  step->helper = answers ? RunInHelper(batches, selected, count, route, step, answers.get())
                         : HelperRunOutcome::Failed;
  ReportHelperStep(batches, selected, count, step->helper == HelperRunOutcome::Answered, answers.get());
}

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      DeviceStateChangeContext* outcome) {
  StateChangeBatch batch{count, patterns, stateChange, {}, 0};
  StateChangeStep step;
  ChangeDeviceStates(&batch, 1, ChooseDeviceRoute(), &step);
  if (outcome != nullptr) *outcome = batch.outcome;
  return batch.result;
}

}  // namespace

DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange) {
  return DeviceStateChangeContext{0, stateChange, 0, stateChange == DICS_ENABLE ? "Enabled" : "Disabled",
                                  "Reboot", "Fail", 0};
}

DeviceRoute ChooseDeviceRoute() {
  if (platform::ProcessIsElevated()) {
    return platform::RunsUnderWow64() ? DeviceRoute::Helper : DeviceRoute::InProcess;
  }
  return platform::HelperCanRun() ? DeviceRoute::ElevatedHelper : DeviceRoute::InProcess;
}

void ChangeDeviceStates(StateChangeBatch* batches, std::size_t count, DeviceRoute route, StateChangeStep* step) {
  if (count > helper::kMaxBatches) count = helper::kMaxBatches;
  for (std::size_t b = 0; b < count; ++b) batches[b].outcome = MakeStateChangeContext(batches[b].stateChange);
  step->helper = HelperRunOutcome::NotNeeded;
  step->stored = false;
  if (route != DeviceRoute::InProcess) {
    ChangeInHelper(batches, count, route, step);
    return;
  }
  CDeviceControl control;
  for (std::size_t b = 0; b < count; ++b) {
    batches[b].result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, batches[b].count, batches[b].patterns,
                                                      ApplyStateChange, &batches[b].outcome);
  }
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

int32_t CDeviceControl::EnableDevices(int32_t count, const char* const* patterns,
                                     DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_ENABLE, outcome);
}

int32_t CDeviceControl::DisableDevices(int32_t count, const char* const* patterns,
                                      DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_DISABLE, outcome);
}
