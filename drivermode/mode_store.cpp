#include "drivermode/mode_store.h"

#include <windows.h>

#include "platform/rights.h"
#include "platform/unique_handle.h"

namespace drivermode {

namespace {

// The 32-bit registry view (32-bit Windows ignores the flag).
constexpr REGSAM kModeView = KEY_WOW64_32KEY;

}  // namespace

int ReadAudioMode() {
  platform::unique_hkey key;
  LSTATUS opened =
      platform::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kModeKey, 0, platform::kReadAndChange | kModeView, key.put());
  // A standard user may read the machine's mode but not change it: without
  // virtualization the open for changing is refused, and the mode in force
  // must still show.
  if (opened == ERROR_ACCESS_DENIED) {
    opened = platform::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kModeKey, 0, KEY_READ | kModeView, key.put());
  }
  if (opened != ERROR_SUCCESS) return -1;

  BYTE value[4] = {};
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.get(), kModeValue, nullptr, nullptr, value, &size) != ERROR_SUCCESS)
    return -1;
  // An empty value has no first byte to read; the zeroed buffer must not
  // pass for WDM.
  if (size == 0) return -1;
  // Only the low byte counts, read as signed: 0xFF reads as -1, no mode.
  return static_cast<signed char>(value[0]);
}

bool WriteAudioMode(int mode) {
  platform::unique_hkey key;
  // As RegCreateKeyA opens it, in the mode's view (the key's name as written
  // there, with a closing backslash, names the same key).
  if (platform::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kModeKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      MAXIMUM_ALLOWED | kModeView, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;

  // A caller that offers a log-off once the mode is stored must learn when
  // it is not.
  if (mode == WDM || mode == ASIO) {
    const DWORD value = static_cast<DWORD>(mode);
    return platform::RegSetValueExA(key.get(), kModeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                    sizeof value) == ERROR_SUCCESS;
  }
  return true;
}

}  // namespace drivermode
