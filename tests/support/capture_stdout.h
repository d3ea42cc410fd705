// Captures what the process writes to standard output (file descriptor 1)
// between construction and Finish(), so a test can check the status lines.
#pragma once

#include <cstdio>
#include <string>

namespace sim {

class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Restores standard output and returns what was written meanwhile.
  std::string Finish();

 private:
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

}  // namespace sim
