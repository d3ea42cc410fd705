// Runs the helper it carries (the stand-in program) as the 32-bit binaries
// run theirs: helper_run_caller [limit in ms]. Prints how the run went.
#include <cstdio>
#include <cstdlib>

#include "helperrun/device_helper_run.h"

int main(int argc, char** argv) {
  const DWORD limit = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : INFINITE;
  helperrun::ProcessRun run;
  if (!helperrun::RunDeviceHelper("request\n", 8, limit, &run)) return 1;
  std::printf("exit %lu, timed out %d, output %.*s", run.exitCode, run.timedOut ? 1 : 0,
              static_cast<int>(run.outputSize), run.output != nullptr ? run.output : "");
  helperrun::FreeProcessRun(&run);
  return 0;
}
