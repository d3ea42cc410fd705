// The control panel's entry: one instance per session. A second start brings
// the running dialog to the front and ends.
#include <windows.h>

#include <cstdlib>

#include "controlpanel/driver_control_dialog.h"
#include "elevation/run_side.h"
#include "elevation/elevation_protocol.h"
#include "controlpanel/resource.h"
#include "platform/system_library.h"

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
  if (filter != nullptr) filter(controlpanel::WM_SHOW_CONTROL_PANEL, MSGFLT_ADD);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::LoadLibrariesFromSystemFolderOnly();  // the elevated run's first step too
  // The panel's own elevated run, which only the panel starts: no window, no
  // part in the single-instance rule. Any other command line is not read.
  if (elevation::IsElevatedRunStart(__argc, __argv)) return elevation::ElevatedRunMain(__argc, __argv);

  AdmitShowMessage();

  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (mutex == nullptr) return 1;

  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    HWND running = FindWindowExA(nullptr, nullptr, kDialogClass, kDialogTitle);
    if (running != nullptr) PostMessageA(running, controlpanel::WM_SHOW_CONTROL_PANEL, 0, 0);
    return 1;  // the handle goes with the process
  }

  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DRIVER_CONTROL), nullptr, controlpanel::DriverControlDialog, 0);
  CloseHandle(mutex);
  return 1;
}
