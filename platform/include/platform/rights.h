// What this process may do: whether its token is elevated, and the registry
// as that token meets it. Routed here so that a test can describe a standard
// user's limited token (User Account Control) and the machine-wide registry
// that refuses it.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace platform {

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength);
BOOL SetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength);

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY: a read that also asks for
// the rights to change the key, as the panel opens its keys.
constexpr REGSAM kReadAndChange = 0x2001F;

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);

// Whether this process holds an administrator's rights: an elevated token,
// or an administrator's on Windows without User Account Control.
inline bool ProcessIsElevated() {
  unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return platform::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// A 32-bit program without an execution level has its writes under
// HKLM\SOFTWARE silently redirected to the user's own copy; turned off, a
// write the user may not make is refused instead. True once the token says
// it is off, or where the platform has no virtualization; false when it
// stays on, and a write of the machine's settings would land in that copy.
inline bool TurnOffRegistryVirtualization() {
  unique_kernel_handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, token.put()) &&
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return false;
  }
  DWORD enabled = 0;
  platform::SetTokenInformation(token.get(), TokenVirtualizationEnabled, &enabled, sizeof enabled);
  DWORD size = 0;
  if (!platform::GetTokenInformation(token.get(), TokenVirtualizationEnabled, &enabled, sizeof enabled, &size)) {
    return ::GetLastError() == ERROR_INVALID_PARAMETER;  // a platform that knows no virtualization
  }
  return enabled == 0;
}

}  // namespace platform
