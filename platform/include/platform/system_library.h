// Libraries the programs need that are not KnownDLLs (newdev, winmm). For
// those, Windows looks in the program's own folder first, and installation
// programs and downloaded panels run from folders the user can write: so
// they are never imported, and never loaded by bare name, but loaded from
// the system folder alone. The kernel's loader is routed here so that a test
// can describe a machine without the new-device library or its function.
#pragma once

#include <windows.h>

#include <cstring>

#include "platform/unique_handle.h"

namespace platform {

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

// From here on, whatever this process or the system's own libraries load by
// name comes from the system folder only: Windows looks for a library that
// is not a KnownDLL in the program's own folder first, and a downloaded
// program lies in one the user can write. Windows 7 without KB2533623 lacks
// the call; there, nothing changes.
void LoadLibrariesFromSystemFolderOnly();

// Loads `name` from the system folder only, with its own imports from there
// too. Windows before the search flags (7 without KB2533623) refuses the flag
// with ERROR_INVALID_PARAMETER: there the full path is given, which the loader
// treats alike. Null, with the loader's error, when it is not there.
inline HMODULE LoadSystemLibrary(const char* name) {
  HMODULE module = platform::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  char path[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  const std::size_t nameLength = std::strlen(name);
  if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
    ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return nullptr;
  }
  path[length] = '\\';
  std::memcpy(path + length + 1, name, nameLength + 1);
  return platform::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A loaded library, released through the boundary that loaded it.
inline void ReleaseLibrary(HMODULE module) { platform::FreeLibrary(module); }
using unique_hmodule = unique_handle<HMODULE, ReleaseLibrary>;

}  // namespace platform
