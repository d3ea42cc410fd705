// The driver control dialog: shows the driver mode in force, re-applies it
// when it opens, and on OK stores and applies the mode the user picked.
#pragma once

#include <windows.h>

#include <cstdint>

#include "device_control.h"
#include "mode_functions.h"

// Posted by a second start of the control panel to bring this one's dialog
// to the front. wParam and lParam are 0.
constexpr UINT WM_SHOW_CONTROL_PANEL = WM_APP + 0x66;

// The dialog procedure of IDD_DRIVER_CONTROL.
INT_PTR CALLBACK DriverControlDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What a device switch came to: the Norza functions it handed to a state
// change, how many of those did not change, whether the elevated run stored
// the mode, whether the switch lacked an administrator's consent, and why
// else its elevated run did not start.
struct SwitchOutcome {
  uint32_t selected = 0;
  uint32_t failed = 0;
  bool stored = false;
  bool consentMissing = false;
  DWORD startError = ERROR_SUCCESS;
};

// The elevated run of a switch always stores its mode; whether that alone is
// reason enough to start it, or only a function that must change is.
enum class ModeStore { IfSwitching, Always };

// Enables the functions of the given mode, then disables the other mode's,
// as one step on `route`.
SwitchOutcome ApplyDriverMode(int mode, DeviceRoute route, ModeStore store);
