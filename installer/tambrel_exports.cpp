// The three exports of tambrel.dll.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "wire/helper_protocol.h"
#include "installer/install_text.h"
#include "helperrun/device_helper_run.h"
#include "platform/wow64.h"
#include "platform/unique_handle.h"
#include "installer/present_count.h"
#include "installer/include/tambrel.h"
#include "installer/usb_install.h"

HINSTANCE g_hModule = nullptr;

namespace {

constexpr std::size_t kMaxText = CUsbInstall::kFieldSize - 1;

bool TextFits(const char* text) {
  return text != nullptr && tambrel::BoundedLength(text, kMaxText + 1) <= kMaxText;
}

// On 64-bit Windows this 32-bit library may not update drivers: the 64-bit
// helper runs the whole installation, pressing the button on its own windows.
// The result and the thread's last error are the helper's; when the helper
// itself goes wrong, false with why (ERROR_TIMEOUT: it was ended after
// kInstallHelperWait).
bool InstallThroughHelper(int buttonId, const char* infDir, const char* infName, const char* hardwareId) {
  helper::InstallRequest install;
  install.buttonId = buttonId;
  std::strcpy(install.infDir, infDir);  // each fits: the export checked them
  std::strcpy(install.infName, infName);
  std::strcpy(install.hardwareId, hardwareId);
  wire::Text request;
  helper::WriteInstallRequest(request, install);
  if (!request.ok()) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  platform::ProcessRun run;
  if (!helperrun::RunDeviceHelper(request.data(), request.size(), helperrun::kInstallHelperWait, &run)) return false;
  bool installed = false;
  uint32_t error = ERROR_SUCCESS;
  if (run.timedOut) {
    error = ERROR_TIMEOUT;  // ended at the limit: whatever it did, it did not answer
  } else if (run.exitCode != ERROR_SUCCESS) {
    // Crashed, killed, refused the request, or ended with STILL_ACTIVE's code.
    error = ERROR_PROCESS_ABORTED;
  } else if (run.outputTruncated || !helper::ParseInstallAnswer(run.output, run.outputSize, &installed, &error)) {
    installed = false;
    error = ERROR_INVALID_DATA;
  }
  platform::FreeProcessRun(&run);
  ::SetLastError(error);
  return installed;
}

}  // namespace

extern "C" {

TAMBREL_BOOL TAMBREL_CALL CloseZDLWindow(void) { return 1; }

TAMBREL_BOOL TAMBREL_CALL InstallDev(int nButtonId, int /*nClickCount*/, const char* pszInfDir,
                                     const char* pszInfName, const char* pszHardwareId) {
  if (!TextFits(pszInfDir) || !TextFits(pszInfName) || !TextFits(pszHardwareId)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool installed = false;
  DWORD error = ERROR_SUCCESS;
  {
    // Declared in this order so that the hook goes first, then the
    // new-device library, then the button.
    ButtonArming arming(nButtonId);
    ConfirmationHooks hooks;
    if (!hooks.Install()) return 0;  // SetWindowsHookExA's error stands
    if (platform::RunsUnderWow64()) {
      installed = InstallThroughHelper(nButtonId, pszInfDir, pszInfName, pszHardwareId);
      error = ::GetLastError();
    } else {
      CUsbInstall install;
      installed = install.Install(pszInfDir, pszInfName, pszHardwareId);
      error = ::GetLastError();
      hooks.Remove();
    }
  }
  // The error of the step that decided the result, whatever the cleanup did;
  // after a success, whether Windows needs a restart to finish it.
  if (installed && error != ERROR_SUCCESS_REBOOT_REQUIRED) error = ERROR_SUCCESS;
  ::SetLastError(error);
  return installed ? 1 : 0;
}

int TAMBREL_CALL GetDevicePresentCount(const char* pszIdText) {
  if (pszIdText == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CountPresentDevices(pszIdText);
}

}  // extern "C"
