/* Calls each export through an import library, with the header included as a
   vendor includes it from the package: 0 when all answer as documented. */
#include "tambrel.h"
int main(void) { return CloseZDLWindow() == 1 && GetDevicePresentCount(0) == 0 && InstallDev(1, 1, 0, 0, 0) == 0 ? 0 : 1; }
