// The driver mode the Norza runs in, kept in the machine's registry.
#pragma once

namespace drivermode {

enum DriverMode { WDM = 0, ASIO = 1 };

// Where the mode is kept: HKEY_LOCAL_MACHINE, in the 32-bit registry view
// (WOW6432Node on 64-bit Windows), where the 32-bit control panel keeps it;
// the 64-bit build reads and writes that one value too.
inline constexpr char kModeKey[] = "SOFTWARE\\Quorvin\\Norza";
inline constexpr char kModeValue[] = "AudioMode";  // a REG_DWORD

// The stored mode: the first byte of "AudioMode" as a signed number, or -1
// when the key or value cannot be read (or the value holds no bytes). Any
// value but WDM and ASIO means that no mode is set.
int ReadAudioMode();

// Stores WDM or ASIO; any other mode only makes sure the key exists.
// False when the key cannot be created or opened, or the value not written.
bool WriteAudioMode(int mode);

}  // namespace drivermode
