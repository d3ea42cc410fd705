// Enabling and disabling the selected devices through the class installer's
// property-change request: in this process, or, for a 32-bit process on
// 64-bit Windows (which may not change device states), in the 64-bit device
// helper.
#include <cstdlib>
#include <cstring>

#include "device_control.h"
#include "helper_protocol.h"
#include "platform/device_helper.h"
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

// The devices a walk selected, by instance ID ("" when it could not be read),
// in the walk's order.
struct SelectedDevices {
  platform::unique_malloc<char[][kInstanceIdSize]> ids;
  std::size_t count = 0;
  std::size_t capacity = 0;
};

int32_t RememberDevice(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* selected = static_cast<SelectedDevices*>(context);
  if (selected->count == selected->capacity) {
    const std::size_t capacity = selected->capacity == 0 ? 8 : selected->capacity * 2;
    void* grown = std::realloc(selected->ids.get(), capacity * kInstanceIdSize);
    if (grown == nullptr) return Failure;
    selected->ids.release();
    selected->ids.reset(static_cast<char(*)[kInstanceIdSize]>(grown));
    selected->capacity = capacity;
  }
  ReadInstanceId(set, element, selected->ids[selected->count]);
  ++selected->count;
  return 0;
}

// Has the helper change the devices, then writes their status lines in the
// walk's order, counted as ApplyStateChange counts them. A device the helper
// did not answer for, or that cannot be named to it, reads "Fail".
void ChangeInHelper(const SelectedDevices& selected, DeviceStateChangeContext* context) {
  const char* const words[] = {context->doneText, context->restartText, context->failText};
  constexpr std::size_t kRestart = 1, kFail = 2;
  platform::unique_malloc<const char*[]> named(
      static_cast<const char**>(std::malloc(selected.count * sizeof(const char*))));
  platform::unique_malloc<std::size_t[]> answers(
      static_cast<std::size_t*>(std::malloc(selected.count * sizeof(std::size_t))));
  std::size_t namedCount = 0;
  bool answered = false;
  if (named && answers) {
    for (std::size_t i = 0; i < selected.count; ++i) {
      if (selected.ids[i][0] != '\0') named[namedCount++] = selected.ids[i];
    }
    helper::Text request;
    helper::WriteStateChangeRequest(request, context->stateChange, named.get(), namedCount);
    platform::DeviceHelperRun run;
    if (namedCount != 0 && request.ok() && platform::RunDeviceHelper(request.data(), request.size(), &run)) {
      answered = run.exitCode == ERROR_SUCCESS && !run.outputTruncated &&
                 helper::ParseStateChangeAnswer(run.output, run.outputSize, named.get(), namedCount, words, 3,
                                                answers.get());
      platform::FreeDeviceHelperRun(&run);
    }
  }
  std::size_t next = 0;
  for (std::size_t i = 0; i < selected.count; ++i) {
    ++context->devicesSelected;
    const bool known = selected.ids[i][0] != '\0';
    const std::size_t word = known && answered ? answers[next++] : kFail;
    PrintStatusLine(known ? selected.ids[i] : "?", words[word]);
    if (word == kFail) continue;
    ++context->devicesChanged;
    if (word == kRestart) context->restartRequired = 1;
  }
}

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      DeviceStateChangeContext* outcome) {
  DeviceStateChangeContext context = MakeStateChangeContext(stateChange);
  CDeviceControl control;
  int32_t result;
  if (platform::RunsUnderWow64()) {
    // Selection stays here; one helper run changes the whole batch.
    SelectedDevices selected;
    result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, count, patterns, RememberDevice, &selected);
    if (selected.count != 0) ChangeInHelper(selected, &context);
  } else {
    result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, count, patterns, ApplyStateChange, &context);
  }
  if (outcome != nullptr) *outcome = context;
  return result;
}

}  // namespace

DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange) {
  return DeviceStateChangeContext{0, stateChange, 0, stateChange == DICS_ENABLE ? "Enabled" : "Disabled",
                                  "Reboot", "Fail", 0};
}

int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* change = static_cast<DeviceStateChangeContext*>(context);
  ++change->devicesSelected;

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
