// The installation sequence behind InstallDev, and the globals it shares with
// the exports and the window hook.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "installer/install_text.h"
#include "platform/device_setup.h"
#include "platform/unique_handle.h"

// The module this library was loaded as (set by DllMain).
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

// CbtHookProc on the threads of this process, never on another's: the
// calling thread, which runs the update and gets its windows, and the others
// the installation program runs now (its window thread, say). A hook for the
// whole desktop would make Windows map this library, by its path, into every
// program that activates a window meanwhile; under the user's temporary
// folder, where installation programs unpack their plug-ins, that path may
// be changed by a process without elevation.
class ConfirmationHooks {
 public:
  ConfirmationHooks() = default;
  ~ConfirmationHooks() { Remove(); }
  ConfirmationHooks(const ConfirmationHooks&) = delete;
  ConfirmationHooks& operator=(const ConfirmationHooks&) = delete;

  // False, with the platform's error, when the calling thread's hook cannot
  // be set; another thread's that cannot is passed over.
  bool Install();
  void Remove();

 private:
  bool Add(DWORD threadId);

  HHOOK* hooks_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

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
  // last error on return: after a success 0, or ERROR_SUCCESS_REBOOT_REQUIRED
  // when Windows needs a restart to finish it.
  bool Install(const char* infDir, const char* infName, const char* hardwareId);
  bool CopyOemInf();
  bool UpdateDriver();
  void MarkForReinstall();
  bool HasHardwareId(const char* list, DWORD size) const;

 private:
  void FullInfPath(char (&path)[tambrel::kInfPathSize]) const;

  platform::unique_hmodule m_hNewDev;
  char m_szInfName[kFieldSize];
  char m_szHardwareId[kFieldSize];
  char m_szInfDir[kFieldSize];
};
