// The device helper as a file of its own: written out of this binary's
// resources into a new folder, started from there by either route (the
// program's own rights, or the platform's elevation request), and removed
// again with its folder.
#pragma once

#include <windows.h>

#include <cstddef>

namespace platform {

class HelperFile {
 public:
  HelperFile() = default;
  ~HelperFile();  // removes the file and its folder, once the hold has ended
  HelperFile(const HelperFile&) = delete;
  HelperFile& operator=(const HelperFile&) = delete;

  // Writes the helper out. False, with the thread's last error, when it
  // cannot be; nothing is left behind then.
  bool Place();
  // The helper's full path; valid after Place succeeded.
  const char* path() const { return path_; }
  // Once the helper's process has started: the file may be let go.
  void EndHold();

 private:
  char folder_[MAX_PATH] = {};
  char path_[MAX_PATH] = {};
  bool placed_ = false;
  HANDLE hold_ = INVALID_HANDLE_VALUE;
};

// Writes all of `bytes`; false, with the last error, when a write fails.
bool WriteAll(HANDLE file, const void* bytes, std::size_t size);

}  // namespace platform
