// A class installer for a test device class. On the installation of a device
// it shows a confirmation window whose button 1 (IDOK) must be pressed by
// someone else, waits up to ten seconds for that, and appends what happened
// to "<this DLL's path>.log": "DIF <code>" for every request, then "pressed"
// or "not pressed", and whether the folder of the program that loaded it
// (the device helper) could be renamed meanwhile. It leaves the work itself
// to the platform.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

namespace {

bool g_pressed = false;

LRESULT CALLBACK ConfirmProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    g_pressed = true;
    ::DestroyWindow(window);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

void Note(const char* text) {
  HMODULE self = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&Note), &self);
  char path[MAX_PATH + 8];
  const DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatA(path, ".log");
  if (FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s\n", text);
    std::fclose(log);
  }
}

bool AskForConfirmation() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ConfirmProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "NorzaTestClassInstallerConfirm";
  ::RegisterClassA(&wc);
  g_pressed = false;
  HWND window = ::CreateWindowExA(0, wc.lpszClassName, "Norza test confirmation", WS_OVERLAPPEDWINDOW, 100, 100, 300,
                                  150, nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return false;
  ::CreateWindowExA(0, "BUTTON", "Install", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 10, 100, 30, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), wc.hInstance, nullptr);
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::SetForegroundWindow(window);
  ::SetActiveWindow(window);
  const DWORD until = ::GetTickCount() + 10000;
  while (!g_pressed && ::IsWindow(window) && static_cast<LONG>(until - ::GetTickCount()) > 0) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  if (::IsWindow(window)) ::DestroyWindow(window);
  return g_pressed;
}

// Renames the folder of this process's program, and back if that worked.
void TryToMoveProgramFolder() {
  char folder[MAX_PATH + 16];
  const DWORD length = ::GetModuleFileNameA(nullptr, folder, MAX_PATH);
  char* slash = length != 0 && length < MAX_PATH ? std::strrchr(folder, '\\') : nullptr;
  if (slash == nullptr) return;
  *slash = '\0';
  char moved[MAX_PATH + 16];
  std::snprintf(moved, sizeof moved, "%s-moved", folder);
  char line[2 * MAX_PATH];
  if (::MoveFileA(folder, moved)) {
    ::MoveFileA(moved, folder);
    std::snprintf(line, sizeof line, "folder moved: %s", folder);
  } else {
    std::snprintf(line, sizeof line, "folder held: %s", folder);
  }
  Note(line);
}

}  // namespace

extern "C" DWORD CALLBACK ClassInstall(DI_FUNCTION function, HDEVINFO, PSP_DEVINFO_DATA) {
  char line[32];
  std::snprintf(line, sizeof line, "DIF %lu", static_cast<unsigned long>(function));
  Note(line);
  if (function == DIF_INSTALLDEVICE) {
    Note(AskForConfirmation() ? "pressed" : "not pressed");
    TryToMoveProgramFolder();
  }
  return ERROR_DI_DO_DEFAULT;
}
