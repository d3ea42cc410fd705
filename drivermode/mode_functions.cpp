#include "drivermode/mode_functions.h"

#include "drivermode/mode_store.h"

const char* const WdmInterfacePatterns[2] = {"@USB\\VID_7E51&PID_0002&MI_00\\*",
                                             "@USB\\VID_7E51&PID_0002&MI_03\\*"};
const char* const AsioInterfacePatterns[1] = {"@USB\\VID_7E51&PID_0002&MI_08\\*"};

void ModeStep(int mode, StateChangeBatch (&batches)[2]) {
  const StateChangeBatch wdm{2, WdmInterfacePatterns, mode == WDM ? DWORD{DICS_ENABLE} : DWORD{DICS_DISABLE}, {}, 0};
  const StateChangeBatch asio{1, AsioInterfacePatterns, mode == WDM ? DWORD{DICS_DISABLE} : DWORD{DICS_ENABLE}, {}, 0};
  batches[0] = mode == WDM ? wdm : asio;
  batches[1] = mode == WDM ? asio : wdm;
}
