// Wave-device enumeration (winmm, which the Win32 realisation loads from the
// system folder at run time), routed here so that a test can name the
// machine's capture and render devices.
#pragma once

#include <windows.h>
#include <mmsystem.h>

namespace platform {

UINT waveInGetNumDevs();
UINT waveOutGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic);
MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc);

}  // namespace platform
