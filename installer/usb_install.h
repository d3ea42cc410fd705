// The installation sequence behind InstallDev, and the globals it shares with
// the exports and the window hook.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "platform/device_setup.h"

// The module this library was loaded as (set by DllMain; tests set it).
extern HINSTANCE g_hModule;
// The control the CBT hook clicks; set by InstallDev.
extern int g_nButtonId;
// True only in the process, and only for the time, that InstallDev has its
// hook installed. The hook runs in other processes too, where g_nButtonId was
// never set: there it must click nothing.
extern std::atomic<bool> g_buttonArmed;
// The new-device library's update function while a CUsbInstall holds it.
extern platform::UpdateDriverForPlugAndPlayDevicesA_t g_pfnUpdateDriver;

LRESULT CALLBACK CbtHookProc(int nCode, WPARAM wParam, LPARAM lParam);

class CUsbInstall {
 public:
  static constexpr int kFieldSize = 200;

  CUsbInstall();
  virtual ~CUsbInstall();
  CUsbInstall(const CUsbInstall&) = delete;
  CUsbInstall& operator=(const CUsbInstall&) = delete;

  // Copies the package, updates the driver, marks media devices with the ID
  // for reinstallation. The result is the update's.
  bool Install(const char* infDir, const char* infName, const char* hardwareId);
  bool CopyOemInf();
  bool UpdateDriver();
  void MarkForReinstall();
  bool HasHardwareId(const char* list, DWORD size) const;

 private:
  std::string FullInfPath() const;

  HMODULE m_hNewDev;
  char m_szInfName[kFieldSize];
  char m_szHardwareId[kFieldSize];
  char m_szInfDir[kFieldSize];
};
