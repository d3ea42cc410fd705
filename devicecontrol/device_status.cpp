// The one-line report per device.
#include <cstdio>

#include "device_control.h"

bool PrintDeviceStatus(HDEVINFO set, PSP_DEVINFO_DATA element, const char* word) {
  char id[200];
  bool known = false;
  SP_DEVINFO_LIST_DETAIL_DATA_A detail{};
  detail.cbSize = sizeof(detail);
  if (platform::SetupDiGetDeviceInfoListDetailA(set, &detail) &&
      platform::CM_Get_Device_ID_ExA(element->DevInst, id, sizeof id, 0, detail.RemoteMachineHandle) ==
          CR_SUCCESS) {
    id[sizeof id - 1] = '\0';
    known = true;
  }
  const char* shown = known ? id : "?";
  if (word != nullptr) {
    std::printf("%-60s: %s\n", shown, word);
  } else {
    std::printf("%s\n", shown);
  }
  // Lines reach a redirected output at once, even if the session ends next.
  std::fflush(stdout);
  return known;
}
