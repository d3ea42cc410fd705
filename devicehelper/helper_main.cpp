// norza-device-helper.exe: the 64-bit process that a Norza program starts
// where it may not change device states or update drivers itself: a 32-bit
// process on 64-bit Windows, or a control panel without an administrator's
// rights. It carries out one request and answers it (helper_protocol.h). A
// windowed program, so that starting it never opens a console.
//
// Started by its caller: the request on standard input, the answer on
// standard output. Started through the elevation request:
//   norza-device-helper.exe --answer \\.\pipe\norza-<hex> <request in hex>
// since an elevated process inherits nothing from the one that asked for it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_control.h"
#include "helper_protocol.h"
#include "helper_requests.h"

namespace {

// No request of ours comes near this.
constexpr std::size_t kMaxRequest = 4 << 20;
constexpr char kAnswerOption[] = "--answer";
constexpr char kPipePrefix[] = "\\\\.\\pipe\\norza-";

int ReadStandardInput(helper::Text& request) {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(input, chunk, sizeof chunk, &read, nullptr) && read != 0) {
    request.Append(chunk, read);
    if (request.size() > kMaxRequest) return ERROR_INVALID_DATA;
  }
  return request.ok() ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// Opens the caller's answer pipe as the stream the status lines and the end
// line go to. Only a pipe of the caller's naming: an elevated program writes
// nowhere else it is told to.
int OpenAnswerPipe(const char* name, std::FILE** answer) {
  if (std::strncmp(name, kPipePrefix, sizeof kPipePrefix - 1) != 0 || std::strlen(name) > 64) {
    return ERROR_INVALID_PARAMETER;
  }
  HANDLE pipe = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                              nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  // Started without standard handles, a windowed program's stdout has no
  // descriptor to point elsewhere: the pipe gets a stream of its own.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipe), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(pipe);
    return ERROR_INVALID_HANDLE;
  }
  *answer = _fdopen(fd, "wb");
  if (*answer == nullptr) {
    _close(fd);
    return ERROR_INVALID_HANDLE;
  }
  return ERROR_SUCCESS;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Run with an administrator's rights from a folder under the user's
  // temporary folder: libraries loaded by name (newdev.dll, and those the
  // system's own libraries load) come from System32 only, never from beside
  // the helper.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  if (auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")))) {
    set(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
  }
  helper::Text request;
  const bool elevated = __argc == 4 && std::strcmp(__argv[1], kAnswerOption) == 0;
  std::FILE* answer = nullptr;
  int status;
  if (elevated) {
    status = helper::ReadHexRequest(__argv[3], request) ? OpenAnswerPipe(__argv[2], &answer) : ERROR_INVALID_DATA;
  } else if (__argc == 1) {
    status = ReadStandardInput(request);
    // The status lines go out byte for byte; the caller prints them itself.
    _setmode(_fileno(stdout), _O_BINARY);
  } else {
    status = ERROR_INVALID_PARAMETER;
  }
  if (status != ERROR_SUCCESS) return status;
  SetStatusOutput(answer);
  status = static_cast<int>(HandleHelperRequest(request.data(), request.size(), elevated));
  if (answer != nullptr) std::fclose(answer);
  return status;
}
