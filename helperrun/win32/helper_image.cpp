#include "helperrun/win32/helper_image.h"

#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "helperrun/win32/sha256.h"

extern "C" NTSTATUS NTAPI RtlDecompressBuffer(USHORT format, PUCHAR uncompressed, ULONG uncompressedSize,
                                              PUCHAR compressed, ULONG compressedSize, PULONG finalSize);

namespace helperrun {

namespace {

constexpr char kHelperResource[] = "NORZA_DEVICE_HELPER";
// Before the packed program: its size (4 bytes, little-endian) and digest.
constexpr std::size_t kRecordSize = 4 + kSha256Size;
// Far beyond any helper; a larger record is not one of ours.
constexpr DWORD kMaxImageSize = 16u << 20;

}  // namespace

bool HelperImage::UnpackResource(HMODULE module) {
  HRSRC resource = ::FindResourceA(module, kHelperResource, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL loaded = resource != nullptr ? ::LoadResource(module, resource) : nullptr;
  const void* packed = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (packed == nullptr) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  return Unpack(packed, ::SizeofResource(module, resource));
}

bool HelperImage::Unpack(const void* packed, std::size_t size) {
  bytes_.reset();
  size_ = 0;
  const auto* record = static_cast<const unsigned char*>(packed);
  DWORD expected = 0;
  if (size > kRecordSize && size - kRecordSize <= kMaxImageSize) {
    expected = record[0] | DWORD{record[1]} << 8 | DWORD{record[2]} << 16 | DWORD{record[3]} << 24;
  }
  if (expected == 0 || expected > kMaxImageSize) {
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  platform::unique_malloc<unsigned char[]> image(static_cast<unsigned char*>(std::malloc(expected)));
  if (!image) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // Only the digest tells a stream that unpacks to other bytes of that
  // length, or to more than the buffer holds.
  ULONG unpacked = 0;
  const NTSTATUS status = RtlDecompressBuffer(COMPRESSION_FORMAT_LZNT1, image.get(), expected,
                                              const_cast<PUCHAR>(record + kRecordSize),
                                              static_cast<ULONG>(size - kRecordSize), &unpacked);
  unsigned char digest[kSha256Size] = {};
  if (status >= 0 && unpacked == expected) Sha256(image.get(), expected, digest);
  if (status < 0 || unpacked != expected || std::memcmp(digest, record + 4, sizeof digest) != 0) {
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  bytes_ = std::move(image);
  size_ = expected;
  return true;
}

}  // namespace helperrun
