#include "platform/system_library.h"

namespace platform {

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  return ::LoadLibraryExA(lpLibFileName, hFile, dwFlags);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) { return ::GetProcAddress(hModule, lpProcName); }

BOOL FreeLibrary(HMODULE hLibModule) { return ::FreeLibrary(hLibModule); }

}  // namespace platform
