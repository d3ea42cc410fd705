// What the hook tests share: the confirmation windows they open (in the
// test programs and in tambrel_click_target), and the click target's exit
// code.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace hook_tests {

// The click target's exit code: below kSetupFailed, the bits of what
// happened to its window; from kSetupFailed on, the step that failed.
enum Exit : unsigned long {
  kButtonZeroClicked = 1u << 0,
  kGivenButtonClicked = 1u << 1,
  kAnyButtonClicked = kButtonZeroClicked | kGivenButtonClicked,
  kTambrelMapped = 1u << 2,  // a hook for the whole desktop brings it
  kActivated = 1u << 3,

  kSetupFailed = 64,  // the wrong number of arguments
  kNoEvents = kSetupFailed + 1,
  kNoWindowClass = kSetupFailed + 2,
  kNoWindow = kSetupFailed + 3,
  kNeverToldToGo = kSetupFailed + 4,
};

inline bool RegisterWindowClass(const char* name, WNDPROC proc) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = name;
  return ::RegisterClassA(&wc) != 0;
}

// A top-level window of `windowClass` with OK buttons 0 and `button`, one
// below the other.
inline HWND MakeConfirmation(const char* windowClass, const char* title, int x, int y, int width, int height,
                             int button) {
  const HINSTANCE self = ::GetModuleHandleA(nullptr);
  HWND window = ::CreateWindowExA(0, windowClass, title, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr, nullptr,
                                  self, nullptr);
  for (int id : {0, button}) {
    ::CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, id == 0 ? 10 : 50, 80, 25, window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), self, nullptr);
  }
  return window;
}

// Dispatches the messages waiting for this thread.
inline void DispatchWaiting() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

}  // namespace hook_tests
