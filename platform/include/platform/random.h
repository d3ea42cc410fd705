// Random bytes from the system's generator, for names nobody may guess (the
// device helper's folder, the elevated run's answer pipe).
#pragma once

#include <cstddef>

namespace platform {

// BCryptGenRandom with the system's preferred generator, from bcrypt.dll
// loaded out of the system folder alone. Never advapi32's RtlGenRandom: that
// import is SystemFunction036, which Windows forwards to cryptbase.dll, no
// KnownDLL, and the loader binds it while loading the program, from beside
// the program, before the program can restrict its library search. False,
// with the last error, when no bytes came.
bool RandomBytes(void* out, std::size_t size);

}  // namespace platform
