#include "mode_store.h"

#include <windows.h>

#include <memory>
#include <type_traits>

namespace {

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, as the driver setup grants it.
constexpr REGSAM kKeyAccess = 0x2001F;

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHolder = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

int ReadAudioMode() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvin\\Norza", 0, kKeyAccess, &raw) !=
      ERROR_SUCCESS)
    return -1;
  KeyHolder key(raw);

  BYTE value[4] = {};
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.get(), "AudioMode", nullptr, nullptr, value, &size) != ERROR_SUCCESS)
    return -1;
  // An empty value has no first byte to read; the zeroed buffer must not
  // pass for WDM.
  if (size == 0) return -1;
  // Only the low byte counts, read as signed: 0xFF is the "unset" -1 the
  // driver setup writes.
  return static_cast<signed char>(value[0]);
}

bool WriteAudioMode(int mode) {
  HKEY raw = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvin\\Norza\\", &raw) != ERROR_SUCCESS)
    return false;
  KeyHolder key(raw);

  if (mode == WDM || mode == ASIO) {
    const DWORD value = static_cast<DWORD>(mode);
    RegSetValueExA(key.get(), "AudioMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
  }
  return true;
}
