// The one-line report per device, "<instance ID padded to 60>: <word>", and
// where those lines go.
#pragma once

#include <cstdio>

#include "platform/device_setup.h"
#include "wire/status_line.h"

namespace devicecontrol {

// Device instance IDs, terminator included.
constexpr ULONG kInstanceIdSize = wire::kTextSize;

// The device's instance ID; false (and an empty text) when it cannot be read.
bool ReadInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, char (&id)[kInstanceIdSize]);

// Writes "<instance ID padded to 60>: <word>\n" (or "<ID>\n" without a word)
// to the status output; "?" stands for an ID that cannot be read, and the
// result is then false.
bool PrintDeviceStatus(HDEVINFO set, PSP_DEVINFO_DATA element, const char* word);
// The same line for a device known by its instance ID.
void PrintStatusLine(const char* id, const char* word);
// The line of an outcome of `stateChange`.
void PrintOutcome(const wire::DeviceOutcome& outcome, DWORD stateChange);

// Where outcomes go (null: standard output), and in which form: status
// lines, or, to the device helper's or the elevated run's caller, the
// wire's DEVICE lines.
enum class StatusForm { Lines, Wire };
void SetStatusOutput(std::FILE* output, StatusForm form = StatusForm::Lines);
std::FILE* StatusOutput();

// A failure's line adds the platform's error (for a reader that asked for
// it on a command line; the dialog's lines stay as they are).
void SetStatusErrors(bool withErrors);

// A step given up at its limit runs on in a thread of its own: from the
// return of MuteStatusLines, `thread` prints nothing more (an answer may end
// meanwhile), until it says, as it ends, UnmuteStatusLines.
void MuteStatusLines(unsigned long thread);
void UnmuteStatusLines(unsigned long thread);

}  // namespace devicecontrol
