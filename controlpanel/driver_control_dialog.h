// The driver control dialog: shows the driver mode in force, re-applies it
// when it opens, and on OK stores and applies the mode the user picked.
#pragma once

#include <windows.h>

#include <cstdint>

// Posted by a second start of the control panel to bring this one's dialog
// to the front. wParam and lParam are 0.
constexpr UINT WM_SHOW_CONTROL_PANEL = WM_APP + 0x66;

// The Norza's USB functions of each mode, as instance-ID patterns.
extern const char* const WdmInterfacePatterns[2];   // functions 0 and 3
extern const char* const AsioInterfacePatterns[1];  // function 8

// The dialog procedure of IDD_DRIVER_CONTROL.
INT_PTR CALLBACK DriverControlDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What a device switch came to: the Norza functions it handed to a state
// change, and how many of those did not change.
struct SwitchOutcome {
  uint32_t selected = 0;
  uint32_t failed = 0;
};

// Enables the functions of the given mode, then disables the other mode's.
SwitchOutcome ApplyDriverMode(int mode);
