// Writing a whole buffer to a file or pipe, which one WriteFile need not do.
#pragma once

#include <windows.h>

#include <cstddef>

namespace helperrun {

// False, with the last error, when a write fails.
bool WriteAll(HANDLE file, const void* bytes, std::size_t size);

}  // namespace helperrun
