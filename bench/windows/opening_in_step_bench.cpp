// The control panel's opening on the simulated machine: how long the dialog's
// own opening work takes and how many elevated runs and device helper runs it
// starts, for a 32-bit panel on 64-bit Windows with an administrator's rights
// and from a standard account, with the Norza's functions already in the
// stored mode and out of it. A run here costs nothing (the simulated runs go
// on in this process); on a real machine each one starts a process, and an
// elevated run asks for consent.
//
//   opening_in_step_bench <kelvane.exe> [openings]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture_stdout.h"
#include "controlpanel/driver_control_dialog.h"
#include "elevation/run_side.h"
#include "drivermode/mode_store.h"
#include "registry_snapshot.h"
#include "controlpanel/resource.h"
#include "sim_machine.h"

namespace {


void Describe(bool elevated, bool inStep) {
  sim::Reset();
  auto& m = sim::machine();
  m.wow64 = true;
  m.elevated = elevated;
  m.virtualized = !elevated;
  m.elevatedRun = elevation::AnswerElevatedRun;
  for (const char* function : {"MI_00", "MI_03", "MI_08"}) {
    const std::string id = std::string("USB\\VID_7E51&PID_0002&") + function;
    sim::AddDevice(id + "\\7&1A2B3C&0&00" + (function + 3), sim::kUsbClass, {id}).statusReadable = true;
  }
  m.devices[2].enabledConfig = !inStep;  // WDM: function 8 disabled
}

}  // namespace

int main(int argc, char** argv) {
  HMODULE resources = argc > 1 ? LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
  if (resources == nullptr) {
    std::fprintf(stderr, "usage: opening_in_step_bench <kelvane.exe> [openings]\n");
    return 2;
  }
  const int openings = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
  regtest::KeySnapshot saved{HKEY_LOCAL_MACHINE, drivermode::kModeKey};
  const DWORD wdm = 0;
  regtest::SetValue(HKEY_LOCAL_MACHINE, drivermode::kModeKey, drivermode::kModeValue, REG_DWORD,
                    std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(&wdm),
                                         reinterpret_cast<const uint8_t*>(&wdm) + 4));
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (bool elevated : {true, false}) {
    for (bool inStep : {true, false}) {
      std::vector<double> times;
      size_t runs = 0;
      int elevatedRuns = 0;
      for (int i = 0; i < openings; ++i) {
        Describe(elevated, inStep);
        LARGE_INTEGER start, end;
        sim::StdoutCapture capture;
        QueryPerformanceCounter(&start);
        HWND dialog =
            CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_DRIVER_CONTROL), nullptr, controlpanel::DriverControlDialog, 0);
        MSG message;  // the opening it posts itself
        while (dialog != nullptr && PeekMessageA(&message, dialog, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        QueryPerformanceCounter(&end);
        capture.Finish();
        if (dialog == nullptr) return 1;
        DestroyWindow(dialog);
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        times.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
        runs = sim::machine().helperRequests.size();
        elevatedRuns = sim::machine().elevatedRuns;
      }
      std::sort(times.begin(), times.end());
      std::printf("opening on the simulated machine, %s, %s: median %.0f us over %d openings; "
                  "%d elevated run(s), each asking for consent; %zu helper run(s)\n",
                  elevated ? "administrator (elevated)" : "standard account",
                  inStep ? "functions already in the mode" : "function 8 out of step", times[times.size() / 2],
                  openings, elevatedRuns, runs);
    }
  }
  saved.Restore();
  FreeLibrary(resources);
  return 0;
}
