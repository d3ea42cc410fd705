#include "capture_stdout.h"

#include <io.h>

namespace sim {

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  file_ = std::tmpfile();
  if (file_ == nullptr) return;
  saved_ = _dup(1);
  _dup2(_fileno(file_), 1);
}

StdoutCapture::~StdoutCapture() { Finish(); }

std::string StdoutCapture::Finish() {
  std::string text;
  if (file_ == nullptr) return text;
  std::fflush(stdout);
  if (saved_ != -1) {
    _dup2(saved_, 1);
    _close(saved_);
    saved_ = -1;
  }
  std::rewind(file_);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, n);
  std::fclose(file_);
  file_ = nullptr;
  return text;
}

}  // namespace sim
