#include "platform/random.h"

#include <windows.h>

#include "platform/system_library.h"
#include "platform/unique_handle.h"

namespace platform {

bool RandomBytes(void* out, std::size_t size) {
  using BCryptGenRandomFn = LONG(WINAPI*)(void* algorithm, PUCHAR buffer, ULONG size, ULONG flags);
  constexpr ULONG kSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
  if (size > MAXDWORD) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  unique_hmodule bcrypt(LoadSystemLibrary("bcrypt.dll"));
  auto generate = bcrypt ? reinterpret_cast<BCryptGenRandomFn>(
                               reinterpret_cast<void*>(platform::GetProcAddress(bcrypt.get(), "BCryptGenRandom")))
                         : nullptr;
  if (generate == nullptr) return false;
  const LONG status = generate(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size), kSystemPreferredRng);
  if (status < 0) {
    ::SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  return true;
}

}  // namespace platform
