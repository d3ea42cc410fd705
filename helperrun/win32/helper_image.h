// The device helper's program as the 32-bit binaries carry it: an RCDATA
// resource packed by cmake/pack_helper.py (its size and SHA-256, then the
// program in LZNT1), unpacked here with ntdll's RtlDecompressBuffer.
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/unique_handle.h"

namespace helperrun {

class HelperImage {
 public:
  // Unpacks the helper that `module` carries. False, with the last error,
  // when it carries none, and with ERROR_INVALID_DATA when it does not unpack
  // to exactly the size and digest recorded with it: then nothing is kept.
  bool UnpackResource(HMODULE module);
  // The same for a packed image in memory.
  bool Unpack(const void* packed, std::size_t size);

  // The signed helper, byte for byte; valid after an unpack succeeded.
  const void* bytes() const { return bytes_.get(); }
  DWORD size() const { return size_; }

 private:
  platform::unique_malloc<unsigned char[]> bytes_;
  DWORD size_ = 0;
};

}  // namespace helperrun
