// The count behind GetDevicePresentCount.
#pragma once

namespace tambrel {

// The present devices, of all classes, whose first hardware ID contains
// `idText` (UTF-16 units in the thread's code page, case significant). The
// thread's last error is 0 when the devices could be walked, else why not
// (and the count is 0).
int CountPresentDevices(const char* idText);

}  // namespace tambrel
