// A library planted where Windows looks first for one that is not a KnownDLL:
// beside the program. Built as winmm.dll and as newdev.dll, with the functions
// the programs take from the real ones, which do nothing here. Loaded, it
// leaves "<its file>.loaded" beside itself.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 8];
  const DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  ::lstrcatA(path, ".loaded");
  HANDLE mark = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) ::CloseHandle(mark);
  return TRUE;
}

extern "C" {
__declspec(dllexport) UINT WINAPI waveInGetNumDevs() { return 0; }
__declspec(dllexport) UINT WINAPI waveOutGetNumDevs() { return 0; }
__declspec(dllexport) UINT WINAPI waveInGetDevCapsA(UINT_PTR, void*, UINT) { return 1; }
__declspec(dllexport) UINT WINAPI waveOutGetDevCapsA(UINT_PTR, void*, UINT) { return 1; }
// Claims an update that never happened.
__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR, LPCSTR, DWORD, PBOOL) {
  return TRUE;
}
}
