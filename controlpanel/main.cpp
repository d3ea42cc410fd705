// The control panel's entry: one instance per session. A second start brings
// the running dialog to the front and ends.
#include <windows.h>

#include <cstdlib>

#include "driver_control_dialog.h"
#include "elevated_switch.h"
#include "resource.h"

namespace {

constexpr char kMutexName[] = "QuorvinNorzaControlPanel";
constexpr char kDialogClass[] = "#32770";
constexpr char kDialogTitle[] = "Norza Driver Control";

using ChangeWindowMessageFilterFn = BOOL(WINAPI*)(UINT message, DWORD flag);

// A second start without raised rights must still reach a first instance
// that has them. Older platforms have no filter; then there is nothing to do.
void AdmitShowMessage() {
  HMODULE user32 = LoadLibraryA("user32.dll");  // kept for the life of the process
  if (user32 == nullptr) return;
  auto filter = reinterpret_cast<ChangeWindowMessageFilterFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
  if (filter != nullptr) filter(WM_SHOW_CONTROL_PANEL, MSGFLT_ADD);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The panel's own elevated run, which only the panel starts: no window, no
  // part in the single-instance rule. Any other command line is not read.
  if (IsElevatedSwitchStart(__argc, __argv)) return ElevatedSwitchMain(__argc, __argv);

  AdmitShowMessage();

  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (mutex == nullptr) return 1;

  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    HWND running = FindWindowExA(nullptr, nullptr, kDialogClass, kDialogTitle);
    if (running != nullptr) PostMessageA(running, WM_SHOW_CONTROL_PANEL, 0, 0);
    return 1;  // the handle goes with the process
  }

  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DRIVER_CONTROL), nullptr, DriverControlDialog, 0);
  CloseHandle(mutex);
  return 1;
}
