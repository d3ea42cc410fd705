// The device helper as a file of its own: written out of this binary's
// resources into a new folder, started from there with the program's own
// rights, and removed again with its folder.
#pragma once

#include <windows.h>

#include "helperrun/win32/helper_folder.h"
#include "platform/unique_handle.h"

namespace helperrun {

// ERROR_INVALID_IMAGE_HASH, which MinGW's headers lack: the helper's file
// differs from the image this binary carries, so it is not started.
constexpr DWORD kHelperChangedError = 577;

#ifdef NORZA_HELPER_FILE_TEST_HOOK
// Test builds only: runs where another process that may open the file could
// still write it, between writing the helper and holding it against writers.
extern void (*g_afterHelperWritten)(const char* path);
#endif

class HelperFile : platform::noncopyable {
 public:
  // Removes the file, then its folder.
  ~HelperFile() { RemoveFile(); }

  // Makes the folder, writes the helper out, reads it back under a handle
  // that denies writers and deleters, and holds that handle until EndHold;
  // the file is never without an open handle of ours in between. False, with
  // the thread's last error, when it cannot be done, kHelperChangedError when
  // the file no longer holds the embedded image; nothing is left behind then.
  bool Place();
  // The helper's full path, and its folder's; valid after Place succeeded.
  const char* path() const { return path_; }
  const char* folder() const { return folder_.path(); }
  // Once the helper's process has started: the file may be let go.
  void EndHold() { hold_.reset(); }

 private:
  void RemoveFile();

  HelperFolder folder_;  // destroyed after the file is gone
  char path_[MAX_PATH] = {};
  bool written_ = false;
  platform::unique_hfile hold_;
};

}  // namespace helperrun
