// Runs as the device helper does (a request on standard input, an answer on
// standard output), for tests of the helper's run: it writes its process ID
// to the file NORZA_STAND_IN_PID names, then, with NORZA_STAND_IN_HANG set,
// never ends, as a helper whose class installer never returns.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
  char chunk[256];
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), chunk, sizeof chunk, &read, nullptr) && read != 0) {
  }
  if (const char* path = std::getenv("NORZA_STAND_IN_PID")) {
    if (FILE* file = std::fopen(path, "w")) {
      std::fprintf(file, "%lu", GetCurrentProcessId());
      std::fclose(file);
    }
  }
  if (std::getenv("NORZA_STAND_IN_HANG") != nullptr) Sleep(INFINITE);
  std::fputs("END\n", stdout);
  return 0;
}
