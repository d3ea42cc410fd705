// Open-to-dialog of the shipped control panel: from its start to its dialog
// on screen, with a stand-in Norza plugged in and the machine in WDM mode,
// when its opening's switch is through (its last status line), and how many
// processes (device helper runs) each opening started. Run in a 32-bit and
// in a 64-bit Wine prefix (bench/open_to_dialog.sh): in the latter a 32-bit
// panel hands its opening's switch to the device helper. With a baseline
// (minimal_dialog.exe: the panel's resources and nothing else), the two open
// in turn in the same prefix and run, and the ratio of their medians is what
// the panel adds; with `extra`, all of it again with that many more devices
// on the machine (root-enumerated stand-ins, added and removed again), as on
// a machine with docks, virtual adapters and the like.
//
//   open_to_dialog_bench <kelvane.exe> [runs] [baseline.exe] [extra]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "drivermode/mode_store.h"
#include "wine_devices.h"

namespace {


bool StoreWdm() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, drivermode::kModeKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD wdm = 0;
  const bool stored =
      RegSetValueExA(key, drivermode::kModeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&wdm), sizeof wdm) == ERROR_SUCCESS;
  RegCloseKey(key);
  return stored;
}

HWND ShownDialog() {
  HWND dialog = FindWindowA("#32770", "Norza Driver Control");
  return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

// The panel's status lines, as they come: when the opening's last one (of
// the three functions) arrived.
struct Lines {
  HANDLE pipe;
  int count = 0;
  LARGE_INTEGER last{};
};

DWORD WINAPI ReadLines(void* context) {
  auto* lines = static_cast<Lines*>(context);
  char chunk[512];
  DWORD read = 0;
  while (ReadFile(lines->pipe, chunk, sizeof chunk, &read, nullptr) && read != 0) {
    for (DWORD i = 0; i < read; ++i) {
      if (chunk[i] == '\n' && ++lines->count == 3) QueryPerformanceCounter(&lines->last);
    }
  }
  return 0;
}

double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One opening: milliseconds to the dialog (-1 if it never came), from the
// dialog to the opening's last status line (NaN without one), and the
// processes the panel started.
double OpenOnce(const std::string& kelvane, bool switches, DWORD* children, double* switchDone) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  std::string line = "\"" + kelvane + "\"";
  std::vector<char> command(line.begin(), line.end());
  command.push_back('\0');
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Lines lines{};
  HANDLE write = nullptr;
  CreatePipe(&lines.pipe, &write, &inherit, 0);
  SetHandleInformation(lines.pipe, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = write;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start, shown;
  QueryPerformanceCounter(&start);
  const BOOL created = CreateProcessA(kelvane.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(write);
  HANDLE reader = CreateThread(nullptr, 0, ReadLines, &lines, 0, nullptr);
  if (!created) {
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    CloseHandle(lines.pipe);
    CloseHandle(job);
    return -1;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  HWND dialog = nullptr;
  for (int waited = 0; waited < 30000 && (dialog = ShownDialog()) == nullptr; ++waited) Sleep(1);
  QueryPerformanceCounter(&shown);
  // Closed once its opening is through: the panel ignores a close before.
  for (int waited = 0; switches && dialog != nullptr && waited < 30000 && lines.count < 3; ++waited) Sleep(1);
  DWORD ended = WAIT_TIMEOUT;
  for (int tries = 0; dialog != nullptr && ended == WAIT_TIMEOUT && tries < 3000; ++tries) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    ended = WaitForSingleObject(process.hProcess, 10);
  }
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(reader, 5000);
  CloseHandle(reader);
  CloseHandle(lines.pipe);
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr);
  *children = accounting.TotalProcesses - 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(job);
  if (dialog == nullptr) return -1;
  *switchDone = lines.count >= 3 ? Ms(shown, lines.last) : 0.0 / 0.0;
  return Ms(start, shown);
}

// Root-enumerated stand-ins, as many as asked.
std::vector<e2e::FakeDevice> ExtraDevices(int count) {
  const GUID system = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  std::vector<e2e::FakeDevice> devices;
  for (int i = 0; i < count; ++i) {
    devices.push_back({"ROOT\\NORZABENCH\\" + std::to_string(i), system, {"ROOT\\NORZABENCH"}, {}});
  }
  return devices;
}

}  // namespace

struct Openings {
  std::vector<double> times;
  std::vector<double> switchDone;
  DWORD children = 0;
  bool Add(const std::string& program, bool switches) {
    double done = 0;
    const double ms = OpenOnce(program, switches, &children, &done);
    if (ms >= 0) times.push_back(ms);
    if (ms >= 0 && done == done) switchDone.push_back(done);
    return ms >= 0;
  }
  static double Median(std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  double Median() { return Median(times); }
  void Print(const char* what) {
    const double median = Median();  // sorts first
    std::printf("%s: median %.1f ms, min %.1f ms, max %.1f ms over %zu runs; %lu process(es) started per opening\n",
                what, median, times.front(), times.back(), times.size(), static_cast<unsigned long>(children));
    if (!switchDone.empty()) {
      const double done = Median(switchDone);  // sorts first
      std::printf("  its opening's switch through: median %+.1f ms after the dialog (min %+.1f, max %+.1f)\n", done,
                  switchDone.front(), switchDone.back());
    }
  }
};

// The panel and the baseline, in turn, `runs` times each.
bool Measure(const char* panelPath, const std::string& baseline, int runs, const char* machine) {
  Openings panel, minimal;
  // Warm-up: the prefix's own first-start costs.
  panel.Add(panelPath, true);
  if (!baseline.empty()) minimal.Add(baseline, false);
  panel = minimal = Openings();
  for (int i = 0; i < runs; ++i) {
    if (!panel.Add(panelPath, true) || (!baseline.empty() && !minimal.Add(baseline, false))) {
      std::fprintf(stderr, "the dialog did not come up\n");
      return false;
    }
  }
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  char what[160];
  std::snprintf(what, sizeof what, "open-to-dialog, %d-bit panel, %s prefix, %s", static_cast<int>(8 * sizeof(void*)),
                wow64 || sizeof(void*) == 8 ? "64-bit" : "32-bit", machine);
  panel.Print(what);
  if (!baseline.empty()) {
    minimal.Print("  a minimal dialog with the same resources");
    std::printf("  panel / minimal dialog (medians): %.2f\n", panel.Median() / minimal.Median());
  }
  return true;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: open_to_dialog_bench <kelvane.exe> [runs] [baseline.exe] [extra]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const std::string baseline = argc > 3 ? argv[3] : "";
  const int extra = argc > 4 ? std::max(0, std::atoi(argv[4])) : 0;
  e2e::RegisteredDevices devices(e2e::NorzaFunctions());
  if (!devices.ok() || !StoreWdm()) {
    std::fprintf(stderr, "cannot describe the machine\n");
    return 1;
  }
  if (!Measure(argv[1], baseline, runs, "the prefix's own devices")) return 1;
  if (extra == 0) return 0;
  e2e::RegisteredDevices more(ExtraDevices(extra));
  char machine[64];
  std::snprintf(machine, sizeof machine, "%d more devices", extra);
  return more.ok() && Measure(argv[1], baseline, runs, machine) ? 0 : 1;
}
