// Open-to-dialog of the shipped control panel: from its start to its dialog
// on screen, with a stand-in Norza plugged in and the machine in WDM mode,
// and how many processes (device helper runs) each opening started. Run in a
// 32-bit and in a 64-bit Wine prefix (bench/open_to_dialog.sh): in the
// latter a 32-bit panel hands its opening's switch to the device helper.
// With a baseline (minimal_dialog.exe: the panel's resources and nothing
// else), the two open in turn in the same prefix and run, and the ratio of
// their medians is what the panel adds.
//
//   open_to_dialog_bench <kelvane.exe> [runs] [baseline.exe]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wine_devices.h"

namespace {

constexpr char kNorzaKey[] = "SOFTWARE\\Quorvin\\Norza";

bool StoreWdm() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNorzaKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD wdm = 0;
  const bool stored =
      RegSetValueExA(key, "AudioMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&wdm), sizeof wdm) == ERROR_SUCCESS;
  RegCloseKey(key);
  return stored;
}

HWND ShownDialog() {
  HWND dialog = FindWindowA("#32770", "Norza Driver Control");
  return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

// One opening: milliseconds to the dialog (-1 if it never came) and the
// processes the panel started.
double OpenOnce(const std::string& kelvane, DWORD* children) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  std::string line = "\"" + kelvane + "\"";
  std::vector<char> command(line.begin(), line.end());
  command.push_back('\0');
  // Its status lines go nowhere: only the figures are printed.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE discard = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = discard;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER frequency, start, shown;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const BOOL created = CreateProcessA(kelvane.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(discard);
  if (!created) {
    CloseHandle(job);
    return -1;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  HWND dialog = nullptr;
  for (int waited = 0; waited < 30000 && (dialog = ShownDialog()) == nullptr; ++waited) Sleep(1);
  QueryPerformanceCounter(&shown);
  if (dialog != nullptr) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr);
  *children = accounting.TotalProcesses - 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(job);
  if (dialog == nullptr) return -1;
  return 1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

struct Openings {
  std::vector<double> times;
  DWORD children = 0;
  bool Add(const std::string& program) {
    const double ms = OpenOnce(program, &children);
    if (ms >= 0) times.push_back(ms);
    return ms >= 0;
  }
  double Median() {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }
  void Print(const char* what) {
    const double median = Median();  // sorts first
    std::printf("%s: median %.1f ms, min %.1f ms, max %.1f ms over %zu runs; %lu process(es) started per opening\n",
                what, median, times.front(), times.back(), times.size(), static_cast<unsigned long>(children));
  }
};

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: open_to_dialog_bench <kelvane.exe> [runs] [baseline.exe]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const std::string baseline = argc > 3 ? argv[3] : "";
  e2e::RegisteredDevices devices(e2e::NorzaFunctions());
  if (!devices.ok() || !StoreWdm()) {
    std::fprintf(stderr, "cannot describe the machine\n");
    return 1;
  }
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  Openings panel, minimal;
  // Warm-up: the prefix's own first-start costs.
  panel.Add(argv[1]);
  if (!baseline.empty()) minimal.Add(baseline);
  panel = minimal = Openings();
  for (int i = 0; i < runs; ++i) {
    if (!panel.Add(argv[1]) || (!baseline.empty() && !minimal.Add(baseline))) {
      std::fprintf(stderr, "the dialog did not come up\n");
      return 1;
    }
  }
  char what[96];
  std::snprintf(what, sizeof what, "open-to-dialog, %d-bit panel, %s prefix", static_cast<int>(8 * sizeof(void*)),
                wow64 || sizeof(void*) == 8 ? "64-bit" : "32-bit");
  panel.Print(what);
  if (!baseline.empty()) {
    minimal.Print("  a minimal dialog with the same resources");
    std::printf("  panel / minimal dialog (medians): %.2f\n", panel.Median() / minimal.Median());
  }
  return 0;
}
