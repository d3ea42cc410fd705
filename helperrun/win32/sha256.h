// SHA-256 (FIPS 180-4), for the device helper's image: the binaries check
// what they unpack without loading a cryptographic provider, which would be
// one more library found by name inside an installation program's process.
// No platform headers.
#pragma once

#include <cstddef>

namespace helperrun {

constexpr std::size_t kSha256Size = 32;

void Sha256(const void* data, std::size_t size, unsigned char (&digest)[kSha256Size]);

}  // namespace helperrun
