// Enabling and disabling the selected devices through the class installer's
// property-change request.
#include "device_control.h"

namespace {

// Attaches the property-change parameters and runs the class installer;
// false when either step fails.
bool RequestStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD stateChange, DWORD scope) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = scope;
  params.HwProfile = 0;  // the current hardware profile
  if (!platform::SetupDiSetClassInstallParamsA(set, element, &params.ClassInstallHeader,
                                               sizeof(params))) {
    return false;
  }
  return platform::SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, element) != FALSE;
}

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      const char* doneText) {
  DeviceStateChangeContext context{0, stateChange, 0, doneText, "Reboot", "Fail"};
  CDeviceControl control;
  return control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, count, patterns, ApplyStateChange,
                                       &context);
}

}  // namespace

int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* change = static_cast<DeviceStateChangeContext*>(context);

  // Enabling also clears a global disable; its outcome does not decide anything.
  if (change->stateChange == DICS_ENABLE) {
    RequestStateChange(set, element, DICS_ENABLE, DICS_FLAG_GLOBAL);
  }

  if (!RequestStateChange(set, element, change->stateChange, DICS_FLAG_CONFIGSPECIFIC)) {
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

int32_t CDeviceControl::EnableDevices(int32_t count, const char* const* patterns) {
  return ChangeDevices(count, patterns, DICS_ENABLE, "Enabled");
}

int32_t CDeviceControl::DisableDevices(int32_t count, const char* const* patterns) {
  return ChangeDevices(count, patterns, DICS_DISABLE, "Disabled");
}
