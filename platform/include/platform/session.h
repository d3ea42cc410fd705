// Ending the user's session, routed here so that a test records the request
// instead of logging anybody off.
#pragma once

#include <windows.h>

namespace platform {

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason);

}  // namespace platform
