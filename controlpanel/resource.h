// Resource identifiers of kelvane.exe, shared by kelvane.rc and the dialog code.
// The numbers are fixed: the dialog code and the resource test refer to them.
#pragma once

// Dialogs
#define IDD_DRIVER_CONTROL 132

// Controls of IDD_DRIVER_CONTROL (IDOK and IDCANCEL are the platform's)
#define IDC_WDM_MODE 1000
#define IDC_ASIO_MODE 1001

// Bitmaps
#define IDB_BANNER 130
#define IDB_LEFT_STRIP 133
#define IDB_RIGHT_STRIP 134
#define IDB_BOTTOM_STRIP 135

// Icons
#define IDI_APP 140
