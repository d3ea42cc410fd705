// Writes out the device helper that a 32-bit binary carries, unpacked by the
// binaries' own code and ntdll, so the package test can verify its signature.
//   norza_unpack_helper <binary> <out>
#include <windows.h>

#include <cstdio>

#include "helperrun/win32/helper_image.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HMODULE binary = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  helperrun::HelperImage image;
  if (binary == nullptr || !image.UnpackResource(binary)) {
    std::fprintf(stderr, "%s: no helper unpacks (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  const bool written = out != nullptr && std::fwrite(image.bytes(), 1, image.size(), out) == image.size();
  return out != nullptr && std::fclose(out) == 0 && written ? 0 : 1;
}
