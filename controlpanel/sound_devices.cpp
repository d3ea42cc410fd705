#include "controlpanel/sound_devices.h"

#include <windows.h>
#include <mmsystem.h>

#include "platform/rights.h"
#include "platform/unique_handle.h"
#include "platform/wave_devices.h"

#include <cstring>

namespace controlpanel {

extern const char DirectDeviceName[] = "Quorvin Direct Device";

namespace {

constexpr char kSoundMapper[] = "Software\\Microsoft\\Multimedia\\Sound Mapper";
// A preference is read into a buffer of this size; longer ones are unreadable.
constexpr DWORD kPreferenceCapacity = 100;

// The terminator is compared too, so "Quorvin Direct Device 2" is another device.
bool IsDirectName(const char* text) {
  return std::memcmp(text, DirectDeviceName, sizeof DirectDeviceName) == 0;
}

static_assert(sizeof DirectDeviceName == 22, "name and terminator");
static_assert(sizeof DirectDeviceName <= MAXPNAMELEN, "compared within szPname");
static_assert(sizeof DirectDeviceName <= kPreferenceCapacity, "compared within the buffer");

// Reads a preference into `text` (zeroed first). On failure `text` stays all
// zeros: a failed read may have left part of the value behind.
bool ReadPreference(HKEY key, const char* name, char (&text)[kPreferenceCapacity]) {
  std::memset(text, 0, sizeof text);
  DWORD size = sizeof text;
  const LONG status =
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  if (status != ERROR_SUCCESS) {
    std::memset(text, 0, sizeof text);
    return false;
  }
  return true;
}

// Scans devices 0.. of one kind and leaves in `caps` the first whose name is
// not the direct device's, or the last scanned one. A failed query is not
// examined: the record keeps what it held.
template <typename Caps, typename GetCaps>
void ScanForOtherDevice(UINT count, Caps& caps, GetCaps getCaps) {
  for (UINT id = 0; id < count; ++id) {
    getCaps(id, &caps, static_cast<UINT>(sizeof caps));
    if (!IsDirectName(caps.szPname)) break;
  }
}

// szPname need not be terminated within its 32 bytes; the copy always is.
struct DeviceName {
  char text[MAXPNAMELEN + 1] = {};
  explicit DeviceName(const char (&pname)[MAXPNAMELEN]) {
    std::memcpy(text, pname, MAXPNAMELEN);
  }
};

LONG SetPreference(HKEY key, const char* name, const DeviceName& device) {
  const DWORD bytes = static_cast<DWORD>(std::strlen(device.text) + 1);
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(device.text), bytes);
}

}  // namespace

bool IsDirectDeviceDefault() {
  platform::unique_hkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSoundMapper, 0, platform::kReadAndChange, key.put()) != ERROR_SUCCESS)
    return false;

  char playback[kPreferenceCapacity];
  char record[kPreferenceCapacity];
  ReadPreference(key.get(), "Playback", playback);  // unreadable: matches nothing
  if (!ReadPreference(key.get(), "Record", record)) return false;
  return IsDirectName(playback) || IsDirectName(record);
}

bool ReassignDefaultSoundDevices() {
  if (!IsDirectDeviceDefault()) return true;

  const UINT captureCount = platform::waveInGetNumDevs();
  const UINT renderCount = platform::waveOutGetNumDevs();

  WAVEINCAPSA capture{};
  ScanForOtherDevice(captureCount, capture, [](UINT id, WAVEINCAPSA* caps, UINT size) {
    platform::waveInGetDevCapsA(id, caps, size);
  });
  WAVEOUTCAPSA render{};
  ScanForOtherDevice(renderCount, render, [](UINT id, WAVEOUTCAPSA* caps, UINT size) {
    platform::waveOutGetDevCapsA(id, caps, size);
  });

  platform::unique_hkey key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kSoundMapper, key.put()) != ERROR_SUCCESS) return false;

  // With no device of a kind there is no name to offer; its preference stays.
  if (renderCount > 0) SetPreference(key.get(), "Playback", DeviceName(render.szPname));
  if (captureCount == 0) return true;
  return SetPreference(key.get(), "Record", DeviceName(capture.szPname)) == ERROR_SUCCESS;
}

}  // namespace controlpanel
