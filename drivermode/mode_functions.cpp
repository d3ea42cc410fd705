#include "drivermode/mode_functions.h"

namespace drivermode {

const char* const WdmInterfacePatterns[2] = {"@USB\\VID_7E51&PID_0002&MI_00\\*",
                                             "@USB\\VID_7E51&PID_0002&MI_03\\*"};
const char* const AsioInterfacePatterns[1] = {"@USB\\VID_7E51&PID_0002&MI_08\\*"};

void ModeStep(DriverMode mode, devicecontrol::StateChangeBatch (&batches)[2]) {
  const DWORD wdmChange = mode == WDM ? DICS_ENABLE : DICS_DISABLE;
  const DWORD asioChange = mode == WDM ? DICS_DISABLE : DICS_ENABLE;
  const devicecontrol::StateChangeBatch wdm{2, WdmInterfacePatterns, wdmChange, {}, 0};
  const devicecontrol::StateChangeBatch asio{1, AsioInterfacePatterns, asioChange, {}, 0};
  batches[0] = mode == WDM ? wdm : asio;
  batches[1] = mode == WDM ? asio : wdm;
}

}  // namespace drivermode
