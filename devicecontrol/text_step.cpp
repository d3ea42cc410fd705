#include "devicecontrol/text_step.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace idtext {

const char* NextChar(const char* p) {
#ifdef _WIN32
  // The ANSI code page decides where a double-byte character ends.
  const char* next = CharNextA(p);
  // A lead byte just before the terminator is a broken character: step one
  // byte so that callers never land past the terminator.
  if (next > p + 1 && p[1] == '\0') next = p + 1;
  return next;
#else
  return *p != '\0' ? p + 1 : p;
#endif
}

}  // namespace idtext
