#include "platform/wave_devices.h"

namespace platform {

UINT waveInGetNumDevs() { return ::waveInGetNumDevs(); }
UINT waveOutGetNumDevs() { return ::waveOutGetNumDevs(); }

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic) {
  return ::waveInGetDevCapsA(uDeviceID, pwic, cbwic);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
  return ::waveOutGetDevCapsA(uDeviceID, pwoc, cbwoc);
}

}  // namespace platform
