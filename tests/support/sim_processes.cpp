// The simulated processes: the bitness this one runs with, and the 64-bit
// device helper, which runs on the machine as the process it would be.
#include <cstdlib>
#include <cstring>

#include "capture_stdout.h"
#include "devicehelper/helper_requests.h"
#include "helperrun/device_helper_run.h"
#include "platform/wow64.h"
#include "sim_processes.h"

namespace sim {

void SetOutput(helperrun::ProcessRun* run, const std::string& output) {
  run->output = static_cast<char*>(std::malloc(output.size() + 1));
  std::memcpy(run->output, output.data(), output.size());
  run->outputSize = output.size();
}

}  // namespace sim

namespace platform {

BOOL IsWow64Process(HANDLE, PBOOL Wow64Process) {
  *Wow64Process = sim::g_machine.wow64 && !sim::g_inHelper;
  return TRUE;
}

}  // namespace platform

namespace helperrun {

// The helper runs on this machine, as the 64-bit process it would be, with
// its caller's rights.
BOOL RunDeviceHelper(const char* request, size_t requestSize, DWORD limit, ProcessRun* run) {
  sim::Log("RunDeviceHelper", "", limit);
  sim::g_machine.helperRequests.emplace_back(request, requestSize);
  *run = ProcessRun{};
  if (sim::g_machine.duringHelperRun != nullptr) sim::g_machine.duringHelperRun();
  if (sim::g_machine.helperRun == sim::HelperRun::CannotWrite || sim::g_machine.helperRun == sim::HelperRun::CannotStart) {
    SetLastError(sim::g_machine.helperRun == sim::HelperRun::CannotWrite ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::string output;
  {
    sim::StdoutCapture capture;
    sim::g_inHelper = true;
    run->exitCode = devicehelper::HandleHelperRequest(request, requestSize);
    sim::g_inHelper = false;
    output = capture.Finish();
  }
  switch (sim::g_machine.helperRun) {
    case sim::HelperRun::Crashes:
      output = output.substr(0, output.find('\n') + 1);
      run->exitCode = 0xC0000005;  // STATUS_ACCESS_VIOLATION
      break;
    case sim::HelperRun::AnswersGarbage:
      output = "\x7f\x01 not an answer\n";
      run->exitCode = 0;
      break;
    case sim::HelperRun::ExitsStillActive:
      run->exitCode = STILL_ACTIVE;
      break;
    case sim::HelperRun::NeverEnds:  // ended at the limit, halfway through its answer
      output = output.substr(0, output.find('\n') + 1);
      run->exitCode = ERROR_TIMEOUT;
      run->timedOut = true;
      break;
    default:
      break;
  }
  sim::SetOutput(run, output);
  return TRUE;
}

}  // namespace helperrun
