// What the 64-bit device helper does for its 32-bit caller.
#pragma once

#include <windows.h>

#include <cstddef>

namespace devicehelper {

// Carries out one request (wire/helper_protocol.h) and answers it on
// standard output: state changes exactly as the control panel makes them,
// an outcome per device, or the whole installation sequence under the
// confirmation hook. Returns the helper's exit code: 0 once it has answered;
// ERROR_INVALID_DATA for input that is not a request (no answer then, and
// nothing done); ERROR_NOT_ENOUGH_MEMORY when its answer found no room.
DWORD HandleHelperRequest(const char* request, std::size_t size);

}  // namespace devicehelper
