// norza-device-helper.exe: the 64-bit process that a 32-bit Norza program
// starts on 64-bit Windows, where a 32-bit process may not change device
// states or update drivers. It reads one request on standard input, carries
// it out and answers on standard output (helper_protocol.h). A windowed
// program, so that starting it never opens a console.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "helper_protocol.h"
#include "helper_requests.h"

namespace {

// No request of ours comes near this.
constexpr std::size_t kMaxRequest = 4 << 20;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  helper::Text request;
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(input, chunk, sizeof chunk, &read, nullptr) && read != 0) {
    request.Append(chunk, read);
    if (request.size() > kMaxRequest) return ERROR_INVALID_DATA;
  }
  if (!request.ok()) return ERROR_NOT_ENOUGH_MEMORY;
  // The status lines go out byte for byte; the caller prints them itself.
  _setmode(_fileno(stdout), _O_BINARY);
  return static_cast<int>(HandleHelperRequest(request.data(), request.size()));
}
