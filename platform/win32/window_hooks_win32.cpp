#include "platform/window_hooks.h"

namespace platform {

HHOOK SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
  return ::SetWindowsHookExA(idHook, lpfn, hmod, dwThreadId);
}

}  // namespace platform
