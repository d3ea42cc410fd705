#include "platform/system_library.h"

namespace platform {

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  return ::LoadLibraryExA(lpLibFileName, hFile, dwFlags);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) { return ::GetProcAddress(hModule, lpProcName); }

BOOL FreeLibrary(HMODULE hLibModule) { return ::FreeLibrary(hLibModule); }

void LoadLibrariesFromSystemFolderOnly() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);
  auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace platform
