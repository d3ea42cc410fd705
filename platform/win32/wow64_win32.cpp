#include "platform/wow64.h"

namespace platform {

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) { return ::IsWow64Process(hProcess, Wow64Process); }

}  // namespace platform
