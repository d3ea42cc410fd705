// The answer pipe of the control panel's elevated run: its server end, which
// only an administrator's process may write, opened for overlapped use, and
// read only once the run's own process is the one connected to it.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace elevation {

class AnswerPipe : platform::noncopyable {
 public:
  // A connection still awaited is called off, and its end awaited, before
  // the pipe and the record the platform writes its end into go.
  ~AnswerPipe();
  bool Create(const char* name);
  // Whether the run has connected; false for good once another process has.
  bool Ready(DWORD runProcessId);
  HANDLE pipe() const { return pipe_.get(); }
  OVERLAPPED* overlapped() { return &overlapped_; }

 private:
  platform::unique_hfile pipe_;
  platform::unique_kernel_handle event_;
  OVERLAPPED overlapped_{};
  bool connected_ = false;
  bool pending_ = false;  // the connection is awaited
  bool refused_ = false;
};

}  // namespace elevation
