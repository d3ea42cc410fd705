#include "platform/session.h"

namespace platform {

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason) { return ::ExitWindowsEx(uFlags, dwReason); }

}  // namespace platform
