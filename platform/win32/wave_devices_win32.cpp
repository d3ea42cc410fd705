// The wave-device functions of winmm, which is not a KnownDLL: loaded on
// first use from the system folder and kept for the life of the process.
// Where it cannot be loaded, every function fails, and a scan finds no
// device.
#include "platform/wave_devices.h"

#include "platform/system_library.h"

namespace platform {

namespace {

struct WaveFunctions {
  UINT(WINAPI* inCount)() = nullptr;
  UINT(WINAPI* outCount)() = nullptr;
  MMRESULT(WINAPI* inCaps)(UINT_PTR, LPWAVEINCAPSA, UINT) = nullptr;
  MMRESULT(WINAPI* outCaps)(UINT_PTR, LPWAVEOUTCAPSA, UINT) = nullptr;
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(platform::GetProcAddress(module, name)));
}

// The control panel asks from its one thread only.
WaveFunctions g_wave;
bool g_waveLooked = false;

const WaveFunctions& Wave() {
  if (!g_waveLooked) {
    g_waveLooked = true;
    if (HMODULE winmm = LoadSystemLibrary("winmm.dll")) {
      Resolve(winmm, "waveInGetNumDevs", &g_wave.inCount);
      Resolve(winmm, "waveOutGetNumDevs", &g_wave.outCount);
      Resolve(winmm, "waveInGetDevCapsA", &g_wave.inCaps);
      Resolve(winmm, "waveOutGetDevCapsA", &g_wave.outCaps);
    }
  }
  return g_wave;
}

}  // namespace

UINT waveInGetNumDevs() { return Wave().inCount != nullptr ? Wave().inCount() : 0; }
UINT waveOutGetNumDevs() { return Wave().outCount != nullptr ? Wave().outCount() : 0; }

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic) {
  return Wave().inCaps != nullptr ? Wave().inCaps(uDeviceID, pwic, cbwic) : MMSYSERR_NODRIVER;
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
  return Wave().outCaps != nullptr ? Wave().outCaps(uDeviceID, pwoc, cbwoc) : MMSYSERR_NODRIVER;
}

}  // namespace platform
