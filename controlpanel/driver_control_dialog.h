// The driver control dialog: shows the driver mode in force, re-applies it
// when it opens, and on OK stores and applies the mode the user picked.
#pragma once

#include <windows.h>

namespace controlpanel {

// Posted by a second start of the control panel to bring this one's dialog
// to the front. wParam and lParam are 0.
constexpr UINT WM_SHOW_CONTROL_PANEL = WM_APP + 0x66;

// The dialog procedure of IDD_DRIVER_CONTROL.
INT_PTR CALLBACK DriverControlDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace controlpanel
