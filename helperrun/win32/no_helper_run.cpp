// The 64-bit binaries' helper run: Windows never runs a 64-bit program as a
// 32-bit process on 64-bit Windows, so they make their device calls
// themselves, carry no helper and never start one. (Their unit tests link the
// simulated machine's run, which plays a 32-bit process on 64-bit Windows.)
#include "helperrun/device_helper_run.h"

namespace helperrun {

BOOL RunDeviceHelper(const char*, std::size_t, DWORD, helperrun::ProcessRun* run) {
  if (run != nullptr) *run = helperrun::ProcessRun{};
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

}  // namespace helperrun
