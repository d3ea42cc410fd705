/* Links tambrel.dll through an import library and calls each export once;
 * exits 0 when every answer is the documented one. */
#include "tambrel.h"

int main(void) {
  int ok = CloseZDLWindow() == 1;
  ok = ok && GetDevicePresentCount(0) == 0;
  ok = ok && InstallDev(1, 1, 0, 0, 0) == 0; /* refused: does nothing */
  return ok ? 0 : 1;
}
