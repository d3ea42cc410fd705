// The one-line report per device: "<instance ID padded to 60>: <word>".
#pragma once

#include <cstdio>

#include "platform/device_setup.h"

// Device instance IDs, terminator included.
constexpr ULONG kInstanceIdSize = 200;

// The device's instance ID; false (and an empty text) when it cannot be read.
bool ReadInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, char (&id)[kInstanceIdSize]);

// Writes "<instance ID padded to 60>: <word>\n" (or "<ID>\n" without a word)
// to the status output; "?" stands for an ID that cannot be read, and the
// result is then false.
bool PrintDeviceStatus(HDEVINFO set, PSP_DEVINFO_DATA element, const char* word);
// The same line for a device known by its instance ID.
void PrintStatusLine(const char* id, const char* word);

// Where status lines go: standard output, unless they answer through a pipe
// (the device helper's, the elevated run's; null: standard output again).
void SetStatusOutput(std::FILE* output);
std::FILE* StatusOutput();

// A step given up at its limit runs on in a thread of its own: from the
// return of MuteStatusLines, `thread` prints nothing more (an answer may end
// meanwhile), until it says, as it ends, UnmuteStatusLines.
void MuteStatusLines(unsigned long thread);
void UnmuteStatusLines(unsigned long thread);
