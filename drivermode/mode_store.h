// The driver mode the Norza runs in, kept in the machine's registry.
#pragma once

enum DriverMode { WDM = 0, ASIO = 1 };

// The stored mode: the first byte of "AudioMode" as a signed number, or -1
// when the key or value cannot be read (or the value holds no bytes).
int ReadAudioMode();

// Stores WDM or ASIO; any other mode only makes sure the key exists.
// False when the key cannot be created or opened, or the value not written.
bool WriteAudioMode(int mode);
