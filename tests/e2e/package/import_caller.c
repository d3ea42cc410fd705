/* Calls each export through an import library: 0 when all answer as documented. */
#include "installer/include/tambrel.h"
int main(void) { return CloseZDLWindow() == 1 && GetDevicePresentCount(0) == 0 && InstallDev(1, 1, 0, 0, 0) == 0 ? 0 : 1; }
