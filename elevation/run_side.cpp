#include "elevation/run_side.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "devicecontrol/device_status.h"
#include "drivermode/mode_store.h"
#include "elevation/elevation_protocol.h"
#include "drivermode/mode_switch.h"
#include "platform/rights.h"
#include "platform/unique_handle.h"

namespace elevation {

namespace {

// The answer pipe as the stream the status lines and the end lines go to;
// null when it cannot be opened, or what was opened is not a pipe. The
// server may not act as this elevated client beyond identifying it.
std::FILE* OpenAnswerPipe(const char* name) {
  platform::unique_hfile pipe(::CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!pipe) return nullptr;
  if (::GetFileType(pipe.get()) != FILE_TYPE_PIPE) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Started without standard handles, a windowed program's stdout has no
  // descriptor to point elsewhere: the pipe gets a stream of its own.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipe.get()), _O_WRONLY | _O_BINARY);
  if (fd < 0) return nullptr;
  pipe.release();  // the descriptor's now
  std::FILE* answer = _fdopen(fd, "wb");
  if (answer == nullptr) _close(fd);
  return answer;
}

}  // namespace

int ElevatedRunMain(int argc, const char* const* argv) {
  Command command;
  if (!ParseCommandLine(argc, argv, &command)) return ERROR_INVALID_PARAMETER;
  std::FILE* answer = OpenAnswerPipe(command.answerPipe);
  if (answer == nullptr) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? static_cast<int>(error) : ERROR_INVALID_HANDLE;
  }
  devicecontrol::SetStatusOutput(answer, devicecontrol::StatusForm::Wire);
  const bool finished = AnswerElevatedRun(command.mode);
  devicecontrol::SetStatusOutput(nullptr);
  std::fclose(answer);
  return finished ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

namespace {

void Answer(const wire::Text& text) {
  std::fwrite(text.data(), 1, text.size(), devicecontrol::StatusOutput());
  std::fflush(devicecontrol::StatusOutput());
}

}  // namespace

bool AnswerElevatedRun(drivermode::DriverMode mode) {
  // The machine's one mode, or none: never the user's virtualized copy. Said
  // at once: if the switch outlives the panel's patience, the panel still
  // knows that the mode is stored.
  const bool stored = platform::TurnOffRegistryVirtualization() && drivermode::WriteAudioMode(mode);
  wire::Text start;
  WriteAnswerStart(start, stored);
  Answer(start);
  const bool finished = !drivermode::ApplyDriverMode(mode).unknown;
  wire::Text end;
  end.AppendEnd();
  Answer(end);
  return finished;
}

}  // namespace elevation
