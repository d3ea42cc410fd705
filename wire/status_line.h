// One device's outcome, the one form every route gives it (in the process,
// through the device helper, through the elevated run): its instance ID,
// what came of it, and the platform's error. The status line prints it, and
// the line protocols carry it. No platform headers: the 32-bit control panel
// and the 64-bit device helper must produce the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/text.h"

namespace wire {

// Failed is 0: an outcome nobody has filled in reads as a failure.
enum class DeviceStatus : uint8_t {
  Failed = 0,   // the change did not take effect (error says why, when the platform said)
  Done = 1,     // it did
  Restart = 2,  // it did, and waits for a restart
};

struct DeviceOutcome {
  char id[kTextSize] = {};  // "" when it could not be read
  DeviceStatus status = DeviceStatus::Failed;
  uint32_t error = 0;
};

// The state changes a device is asked for (DICS_ENABLE, DICS_DISABLE).
constexpr uint32_t kEnable = 1, kDisable = 2;

// The status word: "Enabled" or "Disabled" (by the change asked for),
// "Reboot" or "Fail".
const char* StatusWord(DeviceStatus status, uint32_t stateChange);

// Room for any status line: an instance ID of up to kMaxText characters,
// ": ", a status word, an error and the line end.
constexpr std::size_t kStatusLineSize = 256;

// "<id left-aligned in 60 characters>: <word>\n", or "<id>\n" without a word,
// into `out`. Returns its length, or 0 (and `out` empty) when it does not fit.
std::size_t FormatStatusLine(char* out, std::size_t capacity, const char* id, const char* word);
// An outcome's line ("?" for an ID that could not be read); with
// `withError`, a failure's line adds the platform's error in hexadecimal
// ("...: Fail 0x00000005") where there is one.
std::size_t FormatOutcomeLine(char* out, std::size_t capacity, const DeviceOutcome& outcome, uint32_t stateChange,
                              bool withError);

// On the wire: "DEVICE <hex id> <status> <error>".
void WriteOutcome(Text& out, const DeviceOutcome& outcome);
// `count` outcomes into `slots`, in that order, each line naming the device
// its slot holds already (as WriteOutcome writes it); false at the first
// line that is not so (the slots read by then are filled in).
bool ReadOutcomes(Lines& lines, DeviceOutcome* const* slots, std::size_t count);

}  // namespace wire
