/* Imports advapi32's SystemFunction036 (RtlGenRandom), which Windows forwards
   to cryptbase.dll: the shipped binaries' import check must refuse it. Built,
   never run. */
#include <windows.h>
#include <ntsecapi.h>

int main(void) {
  unsigned char bytes[4];
  return RtlGenRandom(bytes, sizeof bytes) ? 0 : 1;
}
