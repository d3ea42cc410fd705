// What the parts of the simulated machine share: its state, its call log,
// and what the process it stands for may do. Only its own files include this.
#pragma once

#include <string>

#include "sim_machine.h"

namespace sim {

extern Machine g_machine;
extern bool g_inHelper;       // the device helper's 64-bit process is running
extern bool g_inElevatedRun;  // the panel's run started with consent (and what it starts)

void Log(const char* op, const std::string& device = std::string(), DWORD a = 0, DWORD b = 0);
bool EqualNoCase(const std::string& a, const char* b);

// What a 32-bit process on 64-bit Windows is refused (ERROR_IN_WOW64).
bool RefusedInWow64();
bool HasRights();
// What a process without an administrator's rights is refused (ERROR_ACCESS_DENIED).
bool RefusedWithoutRights();
// Device sets are forgotten with the machine.
void ResetDeviceSets();

}  // namespace sim
