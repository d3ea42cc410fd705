// A window of another process while tambrel's hook is installed: it has
// buttons 0 and the identifier given, and reports what happened in its exit
// code.
//
//   tambrel_click_target BUTTON_ID READY_EVENT GO_EVENT DONE_EVENT
//
// Signals READY once running, waits for GO, then opens and activates the
// window from a thread started only then (Wine tells a thread about hooks
// installed after it last asked the server only lazily, so a thread that
// predates the hook may never see it), signals DONE and keeps pumping
// messages briefly.
// Exit code: see hook_tests.h.
#include <windows.h>

#include <cstdlib>
#include <thread>

#include "tests/e2e/installer/hook_tests.h"

using namespace hook_tests;

namespace {

int g_buttonId = 0;
unsigned long g_result = 0;
HWND g_window = nullptr;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == 0) g_result |= kButtonZeroClicked;
    if (LOWORD(wParam) == g_buttonId) g_result |= kGivenButtonClicked;
  }
  if (msg == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) g_result |= kActivated;
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump(DWORD milliseconds) {
  const DWORD until = ::GetTickCount() + milliseconds;
  for (;;) {
    DispatchWaiting();
    const LONG left = static_cast<LONG>(until - ::GetTickCount());
    if (left <= 0) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

void WindowThread(HANDLE done) {
  if (!RegisterWindowClass("TambrelClickTarget", WindowProc)) {
    g_result = kNoWindowClass;
    return;
  }
  g_window = MakeConfirmation("TambrelClickTarget", "Confirm", 100, 100, 300, 200, g_buttonId);
  if (g_window == nullptr) {
    g_result = kNoWindow;
    return;
  }
  ::ShowWindow(g_window, SW_SHOWNORMAL);
  ::SetForegroundWindow(g_window);
  ::SetActiveWindow(g_window);
  Pump(200);
  if (::GetModuleHandleA("tambrel.dll") != nullptr) g_result |= kTambrelMapped;
  ::SetEvent(done);
  Pump(200);
  ::DestroyWindow(g_window);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return kSetupFailed;
  g_buttonId = std::atoi(argv[1]);
  HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE go = ::OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
  HANDLE done = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
  if (ready == nullptr || go == nullptr || done == nullptr) return kNoEvents;
  ::SetEvent(ready);
  if (::WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return kNeverToldToGo;
  std::thread window(WindowThread, done);
  window.join();
  return static_cast<int>(g_result);
}
