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

namespace {

bool TextFits(const char* text) {
  return text != nullptr && tambrel::BoundedLength(text, wire::kTextSize) <= wire::kMaxText;
}

// On 64-bit Windows this 32-bit library may not update drivers: the 64-bit
// helper runs the whole installation, pressing the button on its own windows.
// The result and the thread's last error are the helper's; when the helper
// itself goes wrong, false with why (ERROR_TIMEOUT: it was ended after
// kInstallHelperWait).
bool InstallThroughHelper(const wire::InstallRequest& install) {
  wire::Text request;
  wire::WriteInstallRequest(request, install);
  if (!request.ok()) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  helperrun::ProcessRun run;
  if (!helperrun::RunDeviceHelper(request.data(), request.size(), helperrun::kInstallHelperWait, &run)) return false;
  bool installed = false;
  uint32_t error = ERROR_SUCCESS;
  if (run.timedOut) {
    error = ERROR_TIMEOUT;  // ended at the limit: whatever it did, it did not answer
  } else if (run.exitCode != ERROR_SUCCESS) {
    // Crashed, killed, refused the request, or ended with STILL_ACTIVE's code.
    error = ERROR_PROCESS_ABORTED;
  } else if (run.outputTruncated || !wire::ParseInstallAnswer(run.output, run.outputSize, &installed, &error)) {
    installed = false;
    error = ERROR_INVALID_DATA;
  }
  helperrun::FreeProcessRun(&run);
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
  wire::InstallRequest request;
  request.buttonId = nButtonId;
  std::strcpy(request.infDir, pszInfDir);  // each fits: checked above
  std::strcpy(request.infName, pszInfName);
  std::strcpy(request.hardwareId, pszHardwareId);
  return tambrel::InstallConfirming(request, platform::RunsUnderWow64() ? InstallThroughHelper : nullptr) ? 1 : 0;
}

int TAMBREL_CALL GetDevicePresentCount(const char* pszIdText) {
  if (pszIdText == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return tambrel::CountPresentDevices(pszIdText);
}

}  // extern "C"
