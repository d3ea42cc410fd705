#include "installer/usb_install.h"

#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "installer/confirm_hook.h"
#include "platform/device_setup.h"
#include "platform/system_library.h"

namespace tambrel {

namespace {

// GUID_DEVCLASS_MEDIA, spelled out to avoid initguid.h games.
const GUID kMediaClassGuid = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// From regstr.h and newdev.h, which bring nothing else we need.
constexpr DWORD kConfigFlagReinstall = 0x20;  // CONFIGFLAG_REINSTALL
constexpr DWORD kInstallFlagForce = 0x1;      // INSTALLFLAG_FORCE

// Copies at most size-1 characters and always terminates; the field was
// zeroed before.
void CopyField(char* field, const char* text) {
  if (text == nullptr) return;
  std::size_t length = tambrel::BoundedLength(text, wire::kMaxText);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace

CUsbInstall::CUsbInstall() : m_szInfName{}, m_szHardwareId{}, m_szInfDir{} {
  // Looked up where Windows keeps it, never beside the installation program.
  m_hNewDev.reset(platform::LoadSystemLibrary("newdev.dll"));
  if (m_hNewDev) {
    m_pfnUpdateDriver = reinterpret_cast<platform::UpdateDriverForPlugAndPlayDevicesA_t>(
        reinterpret_cast<void*>(platform::GetProcAddress(m_hNewDev.get(), "UpdateDriverForPlugAndPlayDevicesA")));
  }
}

// Releasing the new-device library is m_hNewDev's.
CUsbInstall::~CUsbInstall() = default;

// Both fields hold at most wire::kMaxText characters, so the path always fits.
void CUsbInstall::FullInfPath(char (&path)[tambrel::kInfPathSize]) const {
  tambrel::JoinInfPath(m_szInfDir, m_szInfName, path, sizeof path);
}

bool CUsbInstall::Install(const char* infDir, const char* infName, const char* hardwareId) {
  std::memset(m_szInfName, 0, sizeof m_szInfName);
  std::memset(m_szHardwareId, 0, sizeof m_szHardwareId);
  std::memset(m_szInfDir, 0, sizeof m_szInfDir);
  CopyField(m_szInfDir, infDir);
  CopyField(m_szInfName, infName);
  CopyField(m_szHardwareId, hardwareId);

  CopyOemInf();  // an already present package is no reason to stop
  const bool updated = UpdateDriver();
  // The update decides the result, so its error (or its restart) is the one
  // the caller sees; the marking after it must not replace it.
  const DWORD error = ::GetLastError();
  MarkForReinstall();
  ::SetLastError(error);
  return updated;
}

bool CUsbInstall::CopyOemInf() {
  char path[tambrel::kInfPathSize];
  FullInfPath(path);
  return platform::SetupCopyOEMInfA(path, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr) == TRUE;
}

bool CUsbInstall::UpdateDriver() {
  if (m_pfnUpdateDriver == nullptr) {
    // What the loader says for a missing library or function.
    ::SetLastError(!m_hNewDev ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND);
    return false;
  }
  char path[tambrel::kInfPathSize];
  FullInfPath(path);
  ::SetLastError(ERROR_SUCCESS);  // so that a stale error from before is never reported as the update's
  // Given where to say it, Windows reports a restart the update needs rather
  // than asking the user itself: a silent installation program must learn
  // it (to set its reboot flag), and no restart prompt comes up under the
  // confirmation hook, which would answer it.
  BOOL restart = FALSE;
  const BOOL result = m_pfnUpdateDriver(nullptr, m_szHardwareId, path, kInstallFlagForce, &restart);
  if ((static_cast<DWORD>(result) & 0xFF) == 0) {
    // A failure that names no error still must not pass for success.
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  ::SetLastError(restart ? ERROR_SUCCESS_REBOOT_REQUIRED : ERROR_SUCCESS);
  return true;
}

void CUsbInstall::MarkForReinstall() {
  platform::unique_hdevinfo set(platform::SetupDiGetClassDevsA(&kMediaClassGuid, nullptr, nullptr, 0));
  if (!set) return;

  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof(SP_DEVINFO_DATA);
  for (DWORD index = 0; platform::SetupDiEnumDeviceInfo(set.get(), index, &element); ++index) {
    DWORD required = 0;
    platform::SetupDiGetDeviceRegistryPropertyA(set.get(), &element, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                                &required);
    if (required == 0) continue;
    platform::unique_malloc<BYTE> ids(static_cast<BYTE*>(std::malloc(required)));
    if (!ids) continue;
    if (!platform::SetupDiGetDeviceRegistryPropertyA(set.get(), &element, SPDRP_HARDWAREID, nullptr, ids.get(),
                                                     required, nullptr)) {
      continue;
    }
    if (!HasHardwareId(reinterpret_cast<const char*>(ids.get()), required)) continue;

    DWORD flags = 0;
    if (platform::SetupDiGetDeviceRegistryPropertyA(set.get(), &element, SPDRP_CONFIGFLAGS, nullptr,
                                                    reinterpret_cast<PBYTE>(&flags), sizeof flags, nullptr)) {
      flags |= kConfigFlagReinstall;
      platform::SetupDiSetDeviceRegistryPropertyA(set.get(), &element, SPDRP_CONFIGFLAGS,
                                                  reinterpret_cast<const BYTE*>(&flags), sizeof flags);
    }
  }
}

bool CUsbInstall::HasHardwareId(const char* list, DWORD size) const {
  return tambrel::MultiSzHasEntry(list, size, m_szHardwareId);
}

bool InstallConfirming(const wire::InstallRequest& request, InstallElsewhere elsewhere) {
  bool installed = false;
  DWORD error = ERROR_SUCCESS;
  {
    // Declared in this order so that the hook goes first, then the
    // new-device library, then the button.
    ButtonArming arming(request.buttonId);
    ConfirmationHooks hooks;
    if (!hooks.Install()) return false;  // SetWindowsHookExA's error stands
    if (elsewhere != nullptr) {
      installed = elsewhere(request);
      error = ::GetLastError();
    } else {
      CUsbInstall install;
      installed = install.Install(request.infDir, request.infName, request.hardwareId);
      error = ::GetLastError();
      hooks.Remove();
    }
  }
  // The error of the step that decided the result, whatever the cleanup did;
  // after a success, whether Windows needs a restart to finish it.
  if (installed && error != ERROR_SUCCESS_REBOOT_REQUIRED) error = ERROR_SUCCESS;
  ::SetLastError(error);
  return installed;
}

}  // namespace tambrel
