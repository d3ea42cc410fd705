// norza-device-helper.exe: the 64-bit process that a 32-bit Norza program
// starts on 64-bit Windows, where it may not change device states or update
// drivers itself. It carries out one request and answers it
// (helper_protocol.h). A windowed program, so that starting it never opens a
// console.
//
// Started by its caller, with the caller's own rights and no arguments: the
// request on standard input, the answer on standard output. It is never
// started through the elevation request, and reads no command line.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wire/text.h"
#include "wire/helper_protocol.h"
#include "devicehelper/helper_requests.h"
#include "platform/system_library.h"

namespace {

// No request of ours comes near this.
constexpr std::size_t kMaxRequest = 4 << 20;

int ReadStandardInput(wire::Text& request) {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(input, chunk, sizeof chunk, &read, nullptr) && read != 0) {
    request.Append(chunk, read);
    if (request.size() > kMaxRequest) return ERROR_INVALID_DATA;
  }
  return request.ok() ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::LoadLibrariesFromSystemFolderOnly();
  if (__argc != 1) return ERROR_INVALID_PARAMETER;
  wire::Text request;
  const int status = ReadStandardInput(request);
  if (status != ERROR_SUCCESS) return status;
  // The status lines go out byte for byte; the caller prints them itself.
  _setmode(_fileno(stdout), _O_BINARY);
  return static_cast<int>(devicehelper::HandleHelperRequest(request.data(), request.size()));
}
