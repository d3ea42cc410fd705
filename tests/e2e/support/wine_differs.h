// Where Wine falls short of Windows, in the manner of Wine's own todo_wine.
// A test states what Windows does; WINE_DIFFERS(windows, wine, reason) gives
// Windows' value, or Wine's when the test runs under Wine, and then says so
// with the reason in the test's output. The same test on a Windows machine
// asserts Windows' results. A test that needs what one platform lacks skips
// there with GTEST_SKIP() << why.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform/wow64.h"

namespace e2e {

inline bool UnderWine() {
  static const bool wine = platform::RunsUnderWine();
  return wine;
}

// `wine` takes the type of `windows`, so a literal may stand for a string.
template <typename T>
T WineDiffers(T windows, typename std::common_type<T>::type wine, const char* reason, const char* file, int line) {
  if (!UnderWine()) return windows;
  const char* name = std::strrchr(file, '/') != nullptr ? std::strrchr(file, '/') + 1 : file;
  // Standard error: the test may be capturing its standard output.
  std::fprintf(stderr, "%s:%d: todo_wine: %s\n", name, line, reason);
  std::fflush(stderr);
  return wine;
}

}  // namespace e2e

#define WINE_DIFFERS(windows, wine, reason) ::e2e::WineDiffers((windows), (wine), (reason), __FILE__, __LINE__)
