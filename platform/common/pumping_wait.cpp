#include "platform/pumping_wait.h"

namespace platform {

bool WaitPumpingMessages(HANDLE handle, DWORD limit, void (*tick)(void*), void* context) {
  bool quit = false;
  bool ended = true;
  WPARAM quitCode = 0;
  const ULONGLONG started = ::GetTickCount64();
  for (;;) {
    if (tick != nullptr) tick(context);
    const DWORD woke = quit ? ::WaitForSingleObject(handle, kPollMilliseconds)
                            : ::MsgWaitForMultipleObjectsEx(1, &handle, kPollMilliseconds, QS_ALLINPUT,
                                                            MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_FAILED) {
      ended = ::WaitForSingleObject(handle, limit) == WAIT_OBJECT_0;
      break;
    }
    if (limit != INFINITE && ::GetTickCount64() - started >= limit) {
      ended = false;
      break;
    }
    MSG message;
    while (!quit && woke == WAIT_OBJECT_0 + 1 && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        break;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
  }
  if (tick != nullptr) tick(context);
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
  return ended;
}

}  // namespace platform
