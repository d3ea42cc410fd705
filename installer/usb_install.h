// The installation sequence behind InstallDev: the package copied, the driver
// updated, the media devices marked; and the whole of it under the
// confirmation hook, as InstallDev runs it and the device helper does for a
// 32-bit caller.
#pragma once

#include <windows.h>

#include "installer/install_text.h"
#include "platform/device_setup.h"
#include "platform/system_library.h"
#include "wire/helper_protocol.h"

namespace tambrel {

class CUsbInstall : platform::noncopyable {
 public:
  CUsbInstall();
  virtual ~CUsbInstall();

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
  platform::UpdateDriverForPlugAndPlayDevicesA_t m_pfnUpdateDriver = nullptr;
  char m_szInfName[wire::kTextSize];
  char m_szHardwareId[wire::kTextSize];
  char m_szInfDir[wire::kTextSize];
};

// Where an installation runs instead of a CUsbInstall here (the device
// helper, which presses the button on its own windows); its result and last
// error as InstallConfirming gives them.
using InstallElsewhere = bool (*)(const wire::InstallRequest& request);

// The whole installation, with button request.buttonId pressed on this
// process's windows meanwhile: the hooks go on first and come off before the
// new-device library goes. The result is the installation's; the thread's
// last error is then 0, or ERROR_SUCCESS_REBOOT_REQUIRED when Windows needs a
// restart to finish it, and after a failure the error of the step that
// decided it (the hook's, when it could not be set).
bool InstallConfirming(const wire::InstallRequest& request, InstallElsewhere elsewhere = nullptr);

}  // namespace tambrel
