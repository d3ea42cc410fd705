// Enabling and disabling the selected devices through the class installer's
// property-change request.
#include "device_control.h"

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

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      const char* doneText, DeviceStateChangeContext* outcome) {
  DeviceStateChangeContext context{0, stateChange, 0, doneText, "Reboot", "Fail", 0};
  CDeviceControl control;
  const int32_t result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, count, patterns,
                                                       ApplyStateChange, &context);
  if (outcome != nullptr) *outcome = context;
  return result;
}

}  // namespace

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
  return ChangeDevices(count, patterns, DICS_ENABLE, "Enabled", outcome);
}

int32_t CDeviceControl::DisableDevices(int32_t count, const char* const* patterns,
                                      DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_DISABLE, "Disabled", outcome);
}
