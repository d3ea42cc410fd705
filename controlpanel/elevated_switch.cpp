#include "elevated_switch.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "device_control.h"
#include "driver_control_dialog.h"
#include "helper_protocol.h"
#include "mode_store.h"
#include "platform/rights.h"

namespace {

// The answer pipe as the stream the status lines and the end lines go to;
// null when it cannot be opened, or what was opened is not a pipe. The
// server may not act as this elevated client beyond identifying it.
std::FILE* OpenAnswerPipe(const char* name) {
  HANDLE pipe = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return nullptr;
  if (::GetFileType(pipe) != FILE_TYPE_PIPE) {
    ::CloseHandle(pipe);
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Started without standard handles, a windowed program's stdout has no
  // descriptor to point elsewhere: the pipe gets a stream of its own.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipe), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(pipe);
    return nullptr;
  }
  std::FILE* answer = _fdopen(fd, "wb");
  if (answer == nullptr) _close(fd);
  return answer;
}

}  // namespace

bool IsElevatedSwitchStart(int argc, const char* const* argv) {
  return argc > 1 && argv != nullptr && argv[1] != nullptr && std::strcmp(argv[1], helper::kSwitchElevatedOption) == 0;
}

int ElevatedSwitchMain(int argc, const char* const* argv) {
  int32_t mode = -1;
  const char* pipeName = nullptr;
  if (!helper::ParseSwitchCommandLine(argc, argv, &mode, &pipeName)) return ERROR_INVALID_PARAMETER;
  std::FILE* answer = OpenAnswerPipe(pipeName);
  if (answer == nullptr) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? static_cast<int>(error) : ERROR_INVALID_HANDLE;
  }
  SetStatusOutput(answer);
  AnswerElevatedSwitch(mode);
  SetStatusOutput(nullptr);
  std::fclose(answer);
  return ERROR_SUCCESS;
}

void AnswerElevatedSwitch(int mode) {
  // The machine's one mode, or none: never the user's virtualized copy.
  const bool stored = platform::TurnOffRegistryVirtualization() && WriteAudioMode(mode);
  ApplyDriverMode(mode, RouteByBitness(), ModeStore::IfSwitching);
  helper::Text end;
  helper::WriteSwitchAnswerEnd(end, stored);
  std::fwrite(end.data(), 1, end.size(), StatusOutput());
  std::fflush(StatusOutput());
}
