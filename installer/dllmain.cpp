#include <windows.h>

#include "installer/usb_install.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD /*fdwReason*/, LPVOID /*lpvReserved*/) {
  g_hModule = hinstDLL;
  return TRUE;
}
