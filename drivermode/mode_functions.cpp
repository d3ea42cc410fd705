#include "mode_functions.h"

const char* const WdmInterfacePatterns[2] = {"@USB\\VID_7E51&PID_0002&MI_00\\*",
                                             "@USB\\VID_7E51&PID_0002&MI_03\\*"};
const char* const AsioInterfacePatterns[1] = {"@USB\\VID_7E51&PID_0002&MI_08\\*"};
