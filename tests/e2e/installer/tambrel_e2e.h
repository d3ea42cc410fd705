// What both halves of tambrel_e2e_test share: the program's own arguments,
// names no other run uses, and functions looked up by name.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tambrel_e2e {

// The arguments after the GoogleTest flags.
inline std::vector<std::string> PlainArgs() {
  std::vector<std::string> out;
  for (int i = 1; i < __argc; ++i) {
    if (std::strncmp(__argv[i], "--gtest", 7) != 0) out.emplace_back(__argv[i]);
  }
  return out;
}

inline std::string Unique(const std::string& stem) { return stem + std::to_string(::GetCurrentProcessId()); }

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace tambrel_e2e
