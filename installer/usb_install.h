// The installation sequence behind InstallDev, and the globals it shares with
// the exports and the window hook.
#pragma once

#include <windows.h>

#include <atomic>

#include "install_text.h"
#include "platform/device_setup.h"

// The module this library was loaded as (set by DllMain; tests set it).
extern HINSTANCE g_hModule;
// The control the CBT hook clicks; set by InstallDev.
extern int g_nButtonId;
// True only in the process, and only for the time, that an installation has
// its hook installed. The hook runs in other processes too, where g_nButtonId
// was never set: there it must click nothing.
extern std::atomic<bool> g_buttonArmed;
// The new-device library's update function while a CUsbInstall holds it.
extern platform::UpdateDriverForPlugAndPlayDevicesA_t g_pfnUpdateDriver;

// Presses button g_nButtonId of every window of this process that is about to
// be activated while armed; never a window of another process.
LRESULT CALLBACK CbtHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// Stores the button and arms the hook for its lifetime.
class ButtonArming {
 public:
  explicit ButtonArming(int buttonId) noexcept {
    g_nButtonId = buttonId;
    g_buttonArmed = true;
  }
  ~ButtonArming() { g_buttonArmed = false; }
  ButtonArming(const ButtonArming&) = delete;
  ButtonArming& operator=(const ButtonArming&) = delete;
};

class CUsbInstall {
 public:
  static constexpr int kFieldSize = 200;

  CUsbInstall();
  virtual ~CUsbInstall();
  CUsbInstall(const CUsbInstall&) = delete;
  CUsbInstall& operator=(const CUsbInstall&) = delete;

  // Copies the package, updates the driver, marks media devices with the ID
  // for reinstallation. The result is the update's, and so is the thread's
  // last error on return (0 when the update succeeded).
  bool Install(const char* infDir, const char* infName, const char* hardwareId);
  bool CopyOemInf();
  bool UpdateDriver();
  void MarkForReinstall();
  bool HasHardwareId(const char* list, DWORD size) const;

 private:
  void FullInfPath(char (&path)[tambrel::kInfPathSize]) const;

  HMODULE m_hNewDev;
  char m_szInfName[kFieldSize];
  char m_szHardwareId[kFieldSize];
  char m_szInfDir[kFieldSize];
};
