// Which Windows this runs on: whether this is a 32-bit process on 64-bit
// Windows, where it may not change device states or update drivers
// (ERROR_IN_WOW64), routed here so that a test can describe such a machine;
// and whether it is Wine.
#pragma once

#include <windows.h>

namespace platform {

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);

// Asked of the platform, never found out by failing first.
inline bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return platform::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// Wine's ntdll exports its version; Windows' does not.
inline bool RunsUnderWine() {
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace platform
