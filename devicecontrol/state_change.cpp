#include "devicecontrol/state_change.h"

#include <cstring>

namespace devicecontrol {

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

bool AlreadyInState(PSP_DEVINFO_DATA element, DWORD stateChange) {
  ULONG status = 0, problem = 0;
  if (platform::CM_Get_DevNode_Status(&status, &problem, element->DevInst, 0) != CR_SUCCESS) return false;
  if (stateChange == DICS_ENABLE) return (status & DN_STARTED) != 0 && (status & DN_HAS_PROBLEM) == 0;
  return (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED;
}

void DescribeState(PSP_DEVINFO_DATA element, wire::Text* word) {
  ULONG status = 0, problem = 0;
  if (platform::CM_Get_DevNode_Status(&status, &problem, element->DevInst, 0) != CR_SUCCESS) {
    word->Append("unknown");
  } else if ((status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED) {
    word->Append("disabled");
  } else if ((status & DN_HAS_PROBLEM) != 0) {
    word->Append("problem ");
    word->AppendNumber(problem);
  } else {
    word->Append((status & DN_STARTED) != 0 ? "enabled" : "stopped");
  }
  word->Append("", 1);  // the terminator
}

wire::DeviceOutcome ChangeState(HDEVINFO set, PSP_DEVINFO_DATA element, const char* id, DWORD stateChange) {
  wire::DeviceOutcome outcome;
  std::strncpy(outcome.id, id, sizeof outcome.id - 1);
  outcome.id[sizeof outcome.id - 1] = '\0';
  outcome.status = wire::DeviceStatus::Done;
  if (AlreadyInState(element, stateChange)) return outcome;

  // Enabling also clears a global disable; neither step's outcome decides anything.
  if (stateChange == DICS_ENABLE) {
    SP_PROPCHANGE_PARAMS global = PropertyChange(DICS_ENABLE, DICS_FLAG_GLOBAL);
    platform::SetupDiSetClassInstallParamsA(set, element, &global.ClassInstallHeader, sizeof(global));
    platform::SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, element);
  }

  SP_PROPCHANGE_PARAMS params = PropertyChange(stateChange, DICS_FLAG_CONFIGSPECIFIC);
  if (!platform::SetupDiSetClassInstallParamsA(set, element, &params.ClassInstallHeader, sizeof(params)) ||
      !platform::SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, element)) {
    outcome.status = wire::DeviceStatus::Failed;
    outcome.error = ::GetLastError();
    return outcome;
  }

  SP_DEVINSTALL_PARAMS_A installParams{};
  installParams.cbSize = sizeof(installParams);
  if (platform::SetupDiGetDeviceInstallParamsA(set, element, &installParams) &&
      (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
    outcome.status = wire::DeviceStatus::Restart;
  }
  return outcome;
}

void Record(const wire::DeviceOutcome& outcome, DeviceStateChangeContext* context) {
  PrintOutcome(outcome, context->stateChange);
  ++context->devicesSelected;
  if (outcome.status == wire::DeviceStatus::Failed) {
    if (context->firstError == 0) context->firstError = outcome.error != 0 ? outcome.error : ERROR_GEN_FAILURE;
    return;
  }
  ++context->devicesChanged;
  if (outcome.status == wire::DeviceStatus::Restart) context->restartRequired = 1;
}

int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* change = static_cast<DeviceStateChangeContext*>(context);
  char id[kInstanceIdSize];
  ReadInstanceId(set, element, id);
  Record(ChangeState(set, element, id, change->stateChange), change);
  return 0;
}

}  // namespace devicecontrol
