#include "elevation/win32/answer_pipe.h"

#include <sddl.h>

namespace elevation {

namespace {

// Only an administrator's process may write the answer: the elevated run
// (Windows gives a standard user's process the Administrators group for
// denying only). Nobody else of this user can get there first and lose the
// consented switch. The OWNER RIGHTS entry takes the place of the rights an
// owner has implicitly: the user who made the pipe may read its descriptor,
// but not change it to let itself in.
bool PipeSecurity(platform::unique_hlocal* descriptor) {
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;GW;;;BA)(A;;RC;;;S-1-3-4)", SDDL_REVISION_1,
                                                              &built, nullptr)) {
    return false;
  }
  descriptor->reset(built);
  return true;
}

}  // namespace

AnswerPipe::~AnswerPipe() {
  if (!pending_) return;
  platform::last_error_guard keep;  // the run's failure, if any, stays its result
  DWORD ignored = 0;
  ::CancelIoEx(pipe_.get(), &overlapped_);
  ::GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, TRUE);
}

bool AnswerPipe::Create(const char* name) {
  platform::unique_hlocal descriptor;
  if (!PipeSecurity(&descriptor)) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  event_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event_) return false;
  // One instance, and it must be the first of that name: nobody can have
  // made it before us, and nobody can connect beside the elevated run.
  pipe_.reset(::CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                                 64 * 1024, 0, &attributes));
  if (!pipe_) return false;
  overlapped_.hEvent = event_.get();
  if (::ConnectNamedPipe(pipe_.get(), &overlapped_)) {
    connected_ = true;
  } else if (::GetLastError() == ERROR_PIPE_CONNECTED) {
    connected_ = true;
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    pending_ = true;
  } else {
    return false;
  }
  return true;
}

bool AnswerPipe::Ready(DWORD runProcessId) {
  if (refused_) return false;
  if (!connected_) {
    DWORD ignored = 0;
    if (::WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0 ||
        !::GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, FALSE)) {
      return false;
    }
    connected_ = true;
    pending_ = false;
    ::ResetEvent(event_.get());
  }
  ULONG client = 0;
  if (!::GetNamedPipeClientProcessId(pipe_.get(), &client) || client != runProcessId) {
    // Someone else got there first: whatever it writes is not an answer.
    refused_ = true;
    ::DisconnectNamedPipe(pipe_.get());
    return false;
  }
  return true;
}

}  // namespace elevation
