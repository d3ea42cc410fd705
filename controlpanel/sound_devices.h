// The system's preferred sound devices and the Norza's direct device. In ASIO
// mode the direct device is taken by the ASIO driver, so it must not stay the
// preference for playback or recording.
#pragma once

namespace controlpanel {

// The product name the direct device's wave endpoints carry.
extern const char DirectDeviceName[];

// True when the sound mapper prefers the direct device for playback or
// recording. False when the preferences cannot be read, including a
// "Record" preference that is missing or too long.
bool IsDirectDeviceDefault();

// When the direct device is a preference, moves playback to the first
// render device and recording to the first capture device of another name
// (the last device if all bear the direct name). A kind with no devices
// keeps its preference. True when there was nothing to do or "Record" could
// be written.
bool ReassignDefaultSoundDevices();

}  // namespace controlpanel
