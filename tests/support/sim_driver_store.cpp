// The simulated driver-package store and new-device library, loaded from
// the system folder only, and the window hooks an installation sets.
#include <cstring>

#include "platform/device_setup.h"
#include "platform/system_library.h"
#include "platform/window_hooks.h"
#include "sim_state.h"

namespace sim {

namespace {

int g_newDevToken;  // its address is the simulated library's handle
HMODULE NewDevHandle() { return reinterpret_cast<HMODULE>(&g_newDevToken); }

BOOL WINAPI SimUpdateDriver(HWND, LPCSTR hardwareId, LPCSTR fullInfPath, DWORD flags, PBOOL reboot) {
  Log("UpdateDriverForPlugAndPlayDevicesA", hardwareId ? hardwareId : "", flags);
  g_machine.driverUpdates.push_back(
      UpdateDriverCall{hardwareId ? hardwareId : "", fullInfPath ? fullInfPath : "", flags, reboot != nullptr});
  if (RefusedInWow64() || RefusedWithoutRights()) return FALSE;
  if (!g_machine.updateResult) SetLastError(g_machine.updateError);
  if (reboot != nullptr) *reboot = g_machine.updateResult && g_machine.updateNeedsRestart;
  return g_machine.updateResult;
}

}  // namespace

}  // namespace sim

namespace platform {

using sim::g_machine;
using sim::Log;

BOOL SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                      DWORD CopyStyle, PSTR DestinationInfFileName, DWORD, PDWORD, PSTR*) {
  Log("SetupCopyOEMInfA", SourceInfFileName ? SourceInfFileName : "", OEMSourceMediaType, CopyStyle);
  g_machine.copiedInfs.push_back(sim::CopyOemInfCall{SourceInfFileName ? SourceInfFileName : "",
                                                     OEMSourceMediaLocation != nullptr, OEMSourceMediaType,
                                                     CopyStyle, DestinationInfFileName != nullptr});
  return g_machine.copyOemInfResult;
}

// Only the system folder's copy: a load by bare name would search the
// program's folder first, and finds nothing here.
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD dwFlags) {
  Log("LoadLibraryExA", lpLibFileName ? lpLibFileName : "", dwFlags);
  if (lpLibFileName != nullptr && lstrcmpiA(lpLibFileName, "newdev.dll") == 0 &&
      dwFlags == LOAD_LIBRARY_SEARCH_SYSTEM32 && g_machine.newDevPresent) {
    ++g_machine.newDevLoads;
    return sim::NewDevHandle();
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HHOOK SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
  g_machine.hookThreads.push_back(dwThreadId);
  if (g_machine.hooksRefused) {
    SetLastError(ERROR_HOOK_NOT_INSTALLED);
    return nullptr;
  }
  return ::SetWindowsHookExA(idHook, lpfn, hmod, dwThreadId);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Log("GetProcAddress", lpProcName ? lpProcName : "");
  if (hModule == sim::NewDevHandle() && lpProcName != nullptr &&
      std::strcmp(lpProcName, "UpdateDriverForPlugAndPlayDevicesA") == 0 && g_machine.updateFunctionPresent) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&sim::SimUpdateDriver));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  Log("FreeLibrary");
  if (hLibModule != sim::NewDevHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ++g_machine.newDevFrees;
  return TRUE;
}

}  // namespace platform
