// What the 64-bit device helper does for its 32-bit caller.
#pragma once

#include <windows.h>

#include <cstddef>

// Carries out one request (see helper_protocol.h) and answers it on standard
// output: state changes exactly as the control panel makes them, with the
// same status lines, or the whole installation sequence with the
// confirmation hook on this thread. Returns the helper's exit code: 0 once it
// has answered; ERROR_INVALID_DATA for input that is not a request (no answer
// then, and nothing done).
DWORD HandleHelperRequest(const char* request, std::size_t size);
