// Enabling and disabling the selected devices through the class installer's
// property-change request: in this process, in the 64-bit device helper where
// this process may not change device states (a 32-bit process on 64-bit
// Windows), or in the control panel's own elevated run where it lacks the
// rights.
#include <cstdlib>
#include <cstring>

#include "device_control.h"
#include "helper_protocol.h"
#include "platform/device_helper.h"
#include "platform/elevated_switch.h"
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

// The words of each batch, in the order of a context's.
struct BatchWords {
  const char* words[helper::kMaxBatches][helper::kStatusWords];
  explicit BatchWords(const StateChangeBatch* batches, std::size_t count) {
    for (std::size_t b = 0; b < count; ++b) {
      words[b][kDone] = batches[b].outcome.doneText;
      words[b][kRestart] = batches[b].outcome.restartText;
      words[b][kFail] = batches[b].outcome.failText;
    }
  }
};

std::size_t Total(const SelectedDevices* selected, std::size_t count, bool (*counted)(const SelectedDevice&)) {
  std::size_t n = 0;
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t i = 0; i < selected[b].count; ++i) n += counted(selected[b].devices[i]) ? 1 : 0;
  }
  return n;
}

// One helper run for the whole step: every device of every batch that must
// change. answers[] gets, per device handed over (in that order), the index
// of its word.
HelperRunOutcome RunInHelper(const StateChangeBatch* batches, const SelectedDevices* selected, std::size_t count,
                             std::size_t* answers) {
  const std::size_t handedOver = Total(selected, count, ToBeChanged);
  if (handedOver == 0) return HelperRunOutcome::NotNeeded;

  platform::unique_malloc<const char*[]> ids(static_cast<const char**>(std::malloc(handedOver * sizeof(const char*))));
  platform::unique_malloc<helper::ExpectedLine[]> expected(
      static_cast<helper::ExpectedLine*>(std::malloc(handedOver * sizeof(helper::ExpectedLine))));
  const BatchWords words(batches, count);
  helper::Text request;
  if (!ids || !expected) return HelperRunOutcome::Failed;
  helper::BeginStateChangeRequest(request);
  std::size_t n = 0;
  for (std::size_t b = 0; b < count; ++b) {
    const std::size_t first = n;
    for (std::size_t i = 0; i < selected[b].count; ++i) {
      if (!ToBeChanged(selected[b].devices[i])) continue;
      ids[n] = selected[b].devices[i].id;
      expected[n] = helper::ExpectedLine{selected[b].devices[i].id, words.words[b]};
      ++n;
    }
    if (n != first) helper::AppendStateChangeBatch(request, batches[b].stateChange, ids.get() + first, n - first);
  }
  helper::EndRequest(request);
  if (!request.ok()) return HelperRunOutcome::Failed;

  platform::DeviceHelperRun run;
  if (!platform::RunDeviceHelper(request.data(), request.size(), platform::kDeviceStepHelperWait, &run)) {
    return HelperRunOutcome::NotStarted;
  }
  const bool answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated && !run.timedOut &&
                        helper::ParseStateChangeAnswer(run.output, run.outputSize, expected.get(), n, answers);
  platform::FreeDeviceHelperRun(&run);
  return answered ? HelperRunOutcome::Answered : HelperRunOutcome::Failed;
}

// The panel's own elevated run for the whole step: it is told the mode, finds
// the same functions and prints a line for each, the ones already in state
// too. answers[] gets, per selected device (in the walk's order), the index
// of its word.
HelperRunOutcome RunElevated(const StateChangeBatch* batches, const SelectedDevices* selected, std::size_t count,
                             StateChangeStep* step, std::size_t* answers) {
  if (Total(selected, count, ToBeChanged) == 0 && !step->runAlone) return HelperRunOutcome::NotNeeded;
  std::size_t lines = 0;
  for (std::size_t b = 0; b < count; ++b) lines += selected[b].count;
  platform::unique_malloc<helper::ExpectedLine[]> expected(
      static_cast<helper::ExpectedLine*>(std::malloc((lines != 0 ? lines : 1) * sizeof(helper::ExpectedLine))));
  if (!expected) return HelperRunOutcome::Failed;
  const BatchWords words(batches, count);
  std::size_t n = 0;
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t i = 0; i < selected[b].count; ++i) {
      const char* id = selected[b].devices[i].id;
      expected[n++] = helper::ExpectedLine{id[0] != '\0' ? id : "?", words.words[b]};
    }
  }
  platform::DeviceHelperRun run;
  if (!platform::RunElevatedSwitch(step->mode, &run)) {
    step->startError = ::GetLastError();
    return HelperRunOutcome::NotStarted;
  }
  bool stored = false;
  const bool answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated &&
                        helper::ParseSwitchAnswer(run.output, run.outputSize, expected.get(), n, answers, &stored);
  platform::FreeDeviceHelperRun(&run);
  step->stored = answered && stored;
  return answered ? HelperRunOutcome::Answered : HelperRunOutcome::Failed;
}

// Writes the status lines of a step that went through the helper or the
// elevated run, in the walk's order, counted as ApplyStateChange counts them.
// A device that was not answered for, or that cannot be named to the helper,
// reads "Fail"; one already in state and not handed over reads as done.
void ReportHelperStep(StateChangeBatch* batches, const SelectedDevices* selected, std::size_t count,
                      bool answered, bool everyDevice, const std::size_t* answers) {
  std::size_t next = 0;
  for (std::size_t b = 0; b < count; ++b) {
    DeviceStateChangeContext& context = batches[b].outcome;
    const char* const words[] = {context.doneText, context.restartText, context.failText};
    for (std::size_t i = 0; i < selected[b].count; ++i) {
      const SelectedDevice& device = selected[b].devices[i];
      ++context.devicesSelected;
      std::size_t word = kFail;
      if (everyDevice || ToBeChanged(device)) {
        const std::size_t answer = next++;
        if (answered) word = answers[answer];
      } else if (device.id[0] != '\0' && device.already) {
        word = kDone;
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
  const bool elevated = route == DeviceRoute::ElevatedRun;
  platform::unique_malloc<std::size_t[]> answers(
      static_cast<std::size_t*>(std::malloc((total != 0 ? total : 1) * sizeof(std::size_t))));
  if (!answers) {
    step->helper = HelperRunOutcome::Failed;
  } else {
    step->helper = elevated ? RunElevated(batches, selected, count, step, answers.get())
                            : RunInHelper(batches, selected, count, answers.get());
  }
  // Nothing ran: the devices in state read as done, the others as failed.
  const bool answered = step->helper == HelperRunOutcome::Answered;
  ReportHelperStep(batches, selected, count, answered, elevated && answered, answers.get());
}

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      DeviceStateChangeContext* outcome) {
  StateChangeBatch batch{count, patterns, stateChange, {}, 0};
  StateChangeStep step;
  // Any devices, so no elevated run: that only ever applies a driver mode.
  ChangeDeviceStates(&batch, 1, RouteByBitness(), &step);
  if (outcome != nullptr) *outcome = batch.outcome;
  return batch.result;
}

}  // namespace

DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange) {
  return DeviceStateChangeContext{0, stateChange, 0, stateChange == DICS_ENABLE ? "Enabled" : "Disabled",
                                  "Reboot", "Fail", 0};
}

DeviceRoute RouteByBitness() {
  return platform::RunsUnderWow64() ? DeviceRoute::Helper : DeviceRoute::InProcess;
}

DeviceRoute ChooseDeviceRoute() {
  return platform::ProcessIsElevated() ? RouteByBitness() : DeviceRoute::ElevatedRun;
}

void ChangeDeviceStates(StateChangeBatch* batches, std::size_t count, DeviceRoute route, StateChangeStep* step) {
  if (count > helper::kMaxBatches) count = helper::kMaxBatches;
  for (std::size_t b = 0; b < count; ++b) batches[b].outcome = MakeStateChangeContext(batches[b].stateChange);
  step->helper = HelperRunOutcome::NotNeeded;
  step->stored = false;
  step->startError = ERROR_SUCCESS;
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
