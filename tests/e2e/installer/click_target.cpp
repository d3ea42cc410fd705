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
// Exit code: bit 0 button 0 clicked, bit 1 BUTTON_ID clicked, bit 2 tambrel.dll
// was mapped into this process (a hook for the whole desktop brings it), bit 3
// the window was activated; 64 and up: setup failed.
#include <windows.h>

#include <cstdlib>
#include <initializer_list>
#include <thread>

namespace {

int g_buttonId = 0;
int g_result = 0;
HWND g_window = nullptr;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == 0) g_result |= 1;
    if (LOWORD(wParam) == g_buttonId) g_result |= 2;
  }
  if (msg == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) g_result |= 8;
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump(DWORD milliseconds) {
  const DWORD until = ::GetTickCount() + milliseconds;
  for (;;) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    const LONG left = static_cast<LONG>(until - ::GetTickCount());
    if (left <= 0) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

void WindowThread(HANDLE done) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "TambrelClickTarget";
  if (!::RegisterClassA(&wc)) {
    g_result = 66;
    return;
  }
  g_window = ::CreateWindowExA(0, wc.lpszClassName, "Confirm", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr,
                               nullptr, wc.hInstance, nullptr);
  if (g_window == nullptr) {
    g_result = 67;
    return;
  }
  for (int id : {0, g_buttonId}) {
    ::CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, id == 0 ? 10 : 50, 80, 25,
                      g_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), wc.hInstance, nullptr);
  }
  ::ShowWindow(g_window, SW_SHOWNORMAL);
  ::SetForegroundWindow(g_window);
  ::SetActiveWindow(g_window);
  Pump(200);
  if (::GetModuleHandleA("tambrel.dll") != nullptr) g_result |= 4;
  ::SetEvent(done);
  Pump(200);
  ::DestroyWindow(g_window);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 64;
  g_buttonId = std::atoi(argv[1]);
  HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE go = ::OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
  HANDLE done = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
  if (ready == nullptr || go == nullptr || done == nullptr) return 65;
  ::SetEvent(ready);
  if (::WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 68;
  std::thread window(WindowThread, done);
  window.join();
  return g_result;
}
