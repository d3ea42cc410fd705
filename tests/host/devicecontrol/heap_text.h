// Test inputs copied to exact-size heap blocks, so that ASan reports any read
// past a terminator; and byte strings written as literals.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

// Copies `bytes` (which may hold NULs) and adds one terminating NUL.
inline char* MallocCopy(const std::string& bytes) {
  auto* p = static_cast<char*>(std::malloc(bytes.size() + 1));
  if (p == nullptr) std::abort();
  std::memcpy(p, bytes.data(), bytes.size());
  p[bytes.size()] = '\0';
  return p;
}

inline HeapText HeapCopy(const std::string& text) { return HeapText(MallocCopy(text)); }

// The bytes of a literal, embedded NULs included, without its own terminator.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

