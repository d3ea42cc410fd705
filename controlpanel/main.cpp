// The control panel's entry: one dialog per session (a second start brings
// the running dialog to the front and ends), the commands for scripts, and
// the panel's own elevated run.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "controlpanel/commands.h"
#include "controlpanel/driver_control_dialog.h"
#include "elevation/run_side.h"
#include "elevation/elevation_protocol.h"
#include "controlpanel/resource.h"
#include "devicecontrol/device_status.h"
#include "platform/system_library.h"

namespace {

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

// A windowed program has no console of its own: a command's lines go to the
// console it was started from, unless its output is redirected already (to
// a file or a pipe, which keep working as they are). The runtime's stdout of
// a windowed program cannot be pointed at a console afterwards: the console
// gets a stream of its own. Null: standard output as it is.
std::FILE* ParentConsole() {
  if (::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN) return nullptr;
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
    // ERROR_ACCESS_DENIED: attached to another console already (Wine gives
    // a windowed program one); the parent's is the one its user reads.
    if (::GetLastError() != ERROR_ACCESS_DENIED || !::FreeConsole() || !::AttachConsole(ATTACH_PARENT_PROCESS)) {
      return nullptr;
    }
  }
  HANDLE console = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(console), _O_TEXT);
  if (descriptor < 0) {
    ::CloseHandle(console);
    return nullptr;
  }
  return _fdopen(descriptor, "w");  // kept, with the handle, for the life of the process
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::LoadLibrariesFromSystemFolderOnly();  // the elevated run's first step too
  // The panel's own elevated run, which only the panel starts: no window, no
  // part in the single-instance rule.
  if (elevation::IsElevatedRunStart(__argc, __argv)) return elevation::ElevatedRunMain(__argc, __argv);
  const controlpanel::Command command = controlpanel::ParseCommandLine(__argc, __argv);
  if (command.kind != controlpanel::CommandKind::Dialog) {
    std::FILE* console = ParentConsole();
    devicecontrol::SetStatusOutput(console);
    const uint32_t code = controlpanel::RunCommand(command);
    devicecontrol::SetStatusOutput(nullptr);
    if (console != nullptr) std::fclose(console);  // the handle with it
    return static_cast<int>(code);
  }

  AdmitShowMessage();

  HANDLE mutex = CreateMutexA(nullptr, FALSE, controlpanel::kInstanceMutex);
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
