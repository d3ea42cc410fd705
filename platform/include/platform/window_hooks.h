// The window hook the installer library sets while it installs, routed here
// so that a test can describe a platform that refuses it and see on which
// threads it was set.
#pragma once

#include <windows.h>

namespace platform {

HHOOK SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId);

}  // namespace platform
