// The simulated token, consent and the panel's elevated run: what a process
// without an administrator's rights is refused, the registry as such a
// process meets it, the elevation request, and the end of the session.
#include <cstring>
#include <string>

#include "capture_stdout.h"
#include "devicecontrol/device_status.h"
#include "elevation/run_start.h"
#include "platform/rights.h"
#include "platform/session.h"
#include "sim_processes.h"

namespace platform {

using sim::g_machine;
using sim::Log;

namespace {

// Where a write under HKEY_LOCAL_MACHINE of a virtualized process goes.
std::string VirtualStorePath(LPCSTR subKey) {
  return std::string("Software\\Classes\\VirtualStore\\MACHINE\\") + (subKey != nullptr ? subKey : "");
}

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC | WRITE_OWNER |
                                DELETE | MAXIMUM_ALLOWED;

}  // namespace

BOOL GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, PDWORD ReturnLength) {
  DWORD value;
  switch (TokenInformationClass) {
    case TokenElevation: value = sim::HasRights(); break;
    case TokenVirtualizationEnabled: value = g_machine.virtualized && !sim::HasRights(); break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
  }
  if (ReturnLength != nullptr) *ReturnLength = sizeof value;
  if (TokenInformation == nullptr || TokenInformationLength < sizeof value) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(TokenInformation, &value, sizeof value);
  return TRUE;
}

BOOL SetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength) {
  Log("SetTokenInformation", "", TokenInformationClass);
  if (TokenInformationClass != TokenVirtualizationEnabled || TokenInformation == nullptr ||
      TokenInformationLength != sizeof(DWORD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (g_machine.virtualizationStuck) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  g_machine.virtualized = *static_cast<DWORD*>(TokenInformation) != 0;
  return TRUE;
}

// HKEY_LOCAL_MACHINE refuses changes to a process without the rights, or
// hands a virtualized one its own copy; everything else is Wine's registry.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (hKey == HKEY_LOCAL_MACHINE && (samDesired & kWriteAccess) != 0 && !sim::HasRights()) {
    if (!g_machine.virtualized) return ERROR_ACCESS_DENIED;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, VirtualStorePath(lpSubKey).c_str(), ulOptions,
                           samDesired & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), phkResult);
  }
  return ::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
  if (hKey == HKEY_LOCAL_MACHINE && !sim::HasRights()) {
    if (!g_machine.virtualized) return ERROR_ACCESS_DENIED;
    return ::RegCreateKeyExA(HKEY_CURRENT_USER, VirtualStorePath(lpSubKey).c_str(), Reserved, lpClass,
                             dwOptions, samDesired & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), lpSecurityAttributes,
                             phkResult, lpdwDisposition);
  }
  return ::RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                           phkResult, lpdwDisposition);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (g_machine.valueWritesFail) return ERROR_WRITE_FAULT;
  return ::RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason) {
  Log("ExitWindowsEx", "", uFlags, dwReason);
  g_machine.exitRequests.emplace_back(uFlags, dwReason);
  return TRUE;
}

}  // namespace platform

namespace elevation {

// The panel's own run with consent: as the same program, with an
// administrator's rights; what it writes to its answer pipe is the answer.
BOOL RunElevated(drivermode::DriverMode mode, helperrun::ProcessRun* run) {
  sim::Log("RunElevated", "", static_cast<DWORD>(mode));
  *run = helperrun::ProcessRun{};
  if (sim::g_machine.elevatedRun == nullptr || sim::g_machine.elevatedRunGoes == sim::ElevatedRun::CannotStart) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (sim::g_machine.elevatedRunGoes == sim::ElevatedRun::Refused) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (sim::g_machine.consent == sim::Consent::Declined) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  ++sim::g_machine.elevatedRuns;
  sim::g_machine.elevatedModes.push_back(mode);
  std::string output;
  {
    sim::StdoutCapture capture;
    sim::g_inElevatedRun = true;
    devicecontrol::SetStatusOutput(nullptr, devicecontrol::StatusForm::Wire);  // as its entry sets it
    sim::g_machine.elevatedRun(mode);
    devicecontrol::SetStatusOutput(nullptr);
    sim::g_inElevatedRun = false;
    output = capture.Finish();
  }
  if (sim::g_machine.elevatedRunGoes == sim::ElevatedRun::NeverEnds) {
    output = output.substr(0, output.find('\n', output.find('\n') + 1) + 1);  // what it said before its limit
    run->timedOut = true;
    run->exitCode = WAIT_TIMEOUT;
  }
  sim::SetOutput(run, output);
  return TRUE;
}

}  // namespace elevation
