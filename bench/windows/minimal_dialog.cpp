// The open-to-dialog benchmark's baseline: the least a program with the
// control panel's resources (controlpanel/kelvane.rc: its dialog, bitmaps,
// icon, manifest and version) does to show its dialog. What the panel takes
// beyond this is its own.
#include <windows.h>

#include "controlpanel/resource.h"

namespace {

INT_PTR CALLBACK MinimalDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return static_cast<int>(
      DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DRIVER_CONTROL), nullptr, MinimalDialog, 0));
}
