// The shipped control panel, started as a user would start it.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drivermode/mode_store.h"
#include "registry_snapshot.h"
#include "wine_devices.h"
#include "wine_differs.h"

namespace {

std::string g_kelvane;  // path of kelvane.exe
std::string g_self;     // this program, also the session-end witness
std::string g_winmm;    // a winmm.dll to plant beside a copy of the panel

const char kMapperKey[] = "Software\\Microsoft\\Multimedia\\Sound Mapper";
constexpr int kWdmButton = 1000;
constexpr int kAsioButton = 1001;
constexpr UINT kShowControlPanel = 0x8066;

std::string TempFile(const char* stem) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  std::string path = std::string(dir) + stem + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(path.c_str());
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The file names of the processes a job gets, as each starts: a watcher
// thread asks for them while they live.
struct JobWatch {
  HANDLE port = nullptr;
  HANDLE thread = nullptr;
  DWORD first = 0;  // the started program itself
  std::vector<std::string> images;

  static DWORD WINAPI Watch(void* context) {
    auto* watch = static_cast<JobWatch*>(context);
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* data = nullptr;
    while (GetQueuedCompletionStatus(watch->port, &message, &key, &data, INFINITE) && key != 0) {
      const DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
      if (message != JOB_OBJECT_MSG_NEW_PROCESS || pid == watch->first) continue;
      char image[MAX_PATH] = "?";
      if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        // A process just made has no image name yet; the one it gets stays
        // readable as long as its starter holds its handle.
        for (int tries = 0; tries < 400; ++tries, Sleep(5)) {
          DWORD size = MAX_PATH;
          if (QueryFullProcessImageNameA(process, 0, image, &size)) break;
        }
        CloseHandle(process);
      }
      const char* name = std::strrchr(image, '\\');
      watch->images.push_back(name != nullptr ? name + 1 : image);
    }
    return 0;
  }
};

// Paths in UTF-8, whatever the ANSI code page can spell.
std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1);
  return wide;
}

// A folder of its own under %TEMP%, with copies of files in it; gone with it.
struct Folder {
  std::string path;
  std::vector<std::string> files;
  explicit Folder(const std::string& name) : path(TempFile(name.c_str())) {
    path.resize(path.size() - 4);  // no ".txt"
    CreateDirectoryW(Wide(path).c_str(), nullptr);
  }
  std::string Copy(const std::string& file, const char* as) {
    files.push_back(path + "\\" + as);
    CopyFileW(Wide(file).c_str(), Wide(files.back()).c_str(), FALSE);
    return files.back();
  }
  bool Has(const char* name) const { return GetFileAttributesW(Wide(path + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES; }
  ~Folder() {
    for (const auto& f : files) DeleteFileW(Wide(f).c_str());
    RemoveDirectoryW(Wide(path).c_str());
  }
};

// A started program with its standard output going to a file, in a job of its
// own that counts the processes it starts and names them.
class Started {
 public:
  // With `token`, the program runs with that token instead of this process's.
  Started(const std::string& program, const std::string& args, const std::string& outputPath,
          HANDLE token = nullptr) {
    job_ = CreateJobObjectA(nullptr, nullptr);
    watch_.port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT port{job_, watch_.port};
    SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &port, sizeof port);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    output_ = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output_;
    si.hStdError = output_;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = Wide("\"" + program + "\" " + args), path = Wide(program);
    started_ = (token != nullptr ? CreateProcessAsUserW(token, path.c_str(), &command[0], nullptr, nullptr, TRUE,
                                                        CREATE_SUSPENDED, nullptr, nullptr, &si, &info_)
                                 : CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                                  nullptr, nullptr, &si, &info_)) != FALSE;
    if (started_) {
      watch_.first = info_.dwProcessId;
      watch_.thread = CreateThread(nullptr, 0, JobWatch::Watch, &watch_, 0, nullptr);
      AssignProcessToJobObject(job_, info_.hProcess);
      ResumeThread(info_.hThread);
    }
  }
  ~Started() {
    if (started_) {
      if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
      CloseHandle(info_.hThread);
      CloseHandle(info_.hProcess);
    }
    if (output_ != INVALID_HANDLE_VALUE) CloseHandle(output_);
    StopWatching();
    if (watch_.port != nullptr) CloseHandle(watch_.port);
    if (job_ != nullptr) CloseHandle(job_);
  }
  // The file names of the processes the program started, in order.
  std::vector<std::string> ChildImages() {
    StopWatching();
    return watch_.images;
  }
  bool ok() const { return started_; }
  // How many processes the program started (and they, in turn).
  DWORD Children() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)) return 999;
    return info.TotalProcesses - 1;
  }
  // The exit code, or -1 when the program is still running after the wait.
  long Wait(DWORD ms) {
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
  }
  DWORD pid() const { return info_.dwProcessId; }

 private:
  void StopWatching() {
    if (watch_.thread == nullptr) return;
    Sleep(200);  // the last messages of a process that just ended
    PostQueuedCompletionStatus(watch_.port, 0, 0, nullptr);
    WaitForSingleObject(watch_.thread, 5000);
    CloseHandle(watch_.thread);
    watch_.thread = nullptr;
  }

  JobWatch watch_;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  HANDLE job_ = nullptr;
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

template <typename Pred>
bool Eventually(Pred pred, DWORD ms = 15000) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    if (pred()) return true;
    Sleep(50);
  }
  return pred();
}

HWND Dialog();
// The dialog on screen with its opening through: its choices come alive then.
bool Opened() {
  HWND dialog = Dialog();
  return dialog != nullptr && IsWindowVisible(dialog) && IsWindowEnabled(GetDlgItem(dialog, IDOK));
}

HWND FindTopLevel(const char* title) {
  // The title is matched exactly; the platform's own lookup ignores case.
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr) {
    char text[128] = "";
    GetWindowTextA(w, text, sizeof text);
    if (std::strcmp(text, title) == 0) return w;
  }
  return nullptr;
}

HWND Dialog() { return FindTopLevel("Norza Driver Control"); }
HWND Prompt() {
  HWND p = FindTopLevel("Norza Driver");
  return p != nullptr && IsWindowVisible(p) ? p : nullptr;
}

// On Windows the stand-in functions switch at once: root-enumerated devices
// without a driver have nothing loaded to stop or start again, so the class
// installer asks for no restart and each reads "Enabled" or "Disabled", never
// "Reboot". The least certain is an enable, which leaves the device not
// started for want of a driver: no restart would start it, so none is asked.
constexpr char kWineSwitchesNothing[] = "Wine's class installer cannot change a device's state: every switch fails";

// Answers the prompt. Where a function could not be switched the failure
// report follows: answers that too and gives its text ("" without one).
std::string AnswerPrompt(int answer, bool failureReport) {
  HWND prompt = Prompt(), box = nullptr;
  PostMessageA(prompt, WM_COMMAND, answer, 0);
  char text[512] = "";
  if (failureReport && Eventually([&] { return (box = Prompt()) != nullptr && box != prompt; })) {
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return text;
}

std::string Line(const std::string& function, const std::string& word) {
  std::string id = "USB\\VID_7E51&PID_0002&" + function + "\\7&1A2B3C&0&00" + function.substr(3);
  // Standard output is in text mode: each line ends in CR LF.
  return id + std::string(60 - id.size(), ' ') + ": " + word + "\r\n";
}

class KelvaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(g_kelvane.empty()) << "pass the path of kelvane.exe";
    ASSERT_TRUE(devices.ok());
    regtest::DeleteKey(HKEY_LOCAL_MACHINE, drivermode::kModeKey);
  }
  void TearDown() override {
    // No control panel may outlive a test.
    if (HWND d = Dialog()) {
      DWORD pid = 0;
      GetWindowThreadProcessId(d, &pid);
      if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
        TerminateProcess(p, 0);
        CloseHandle(p);
      }
    }
    norza.Restore();
    mapper.Restore();
  }

  void StoreMode(DWORD mode) {
    regtest::SetValue(HKEY_LOCAL_MACHINE, drivermode::kModeKey, drivermode::kModeValue, REG_DWORD,
                      std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&mode), reinterpret_cast<uint8_t*>(&mode) + 4));
  }
  long StoredMode() {
    auto v = regtest::GetValue(HKEY_LOCAL_MACHINE, drivermode::kModeKey, drivermode::kModeValue);
    if (!v || v->type != REG_DWORD || v->data.size() != 4) return -1;
    DWORD mode;
    std::memcpy(&mode, v->data.data(), 4);
    return static_cast<long>(mode);
  }

  e2e::RegisteredDevices devices{e2e::NorzaFunctions()};
  regtest::KeySnapshot norza{HKEY_LOCAL_MACHINE, drivermode::kModeKey};
  regtest::KeySnapshot mapper{HKEY_CURRENT_USER, kMapperKey};
};

TEST_F(KelvaneTest, SecondStartsBringTheRunningDialogToTheFront) {
  StoreMode(0);
  std::string firstOut = TempFile("kelvane-first");
  Started first(g_kelvane, "", firstOut);
  ASSERT_TRUE(first.ok());
  ASSERT_TRUE(Eventually(Opened));
  HWND dialog = Dialog();
  EXPECT_EQ(SendDlgItemMessageA(dialog, kWdmButton, BM_GETCHECK, 0, 0), BST_CHECKED);

  // Out of sight: a second start shows it and brings it to the front.
  ShowWindow(dialog, SW_HIDE);
  ASSERT_FALSE(IsWindowVisible(dialog));
  std::string secondOut = TempFile("kelvane-second");
  {
    Started second(g_kelvane, "", secondOut);
    EXPECT_EQ(second.Wait(10000), 1);
  }
  EXPECT_TRUE(Eventually([&] { return IsWindowVisible(dialog) && GetForegroundWindow() == dialog; }));
  EXPECT_EQ(ReadFile(secondOut), "");
  EXPECT_EQ(Dialog(), dialog);

  // Switch to ASIO; while the prompt is up (the dialog hidden), a third start
  // shows the dialog again.
  SendDlgItemMessageA(dialog, kAsioButton, BM_CLICK, 0, 0);
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Eventually([] { return Prompt() != nullptr; }));
  EXPECT_FALSE(IsWindowVisible(dialog));
  {
    Started third(g_kelvane, "", TempFile("kelvane-third"));
    EXPECT_EQ(third.Wait(10000), 1);
  }
  EXPECT_TRUE(Eventually([&] { return IsWindowVisible(dialog); }));

  const bool failed = WINE_DIFFERS(false, true, kWineSwitchesNothing);
  EXPECT_EQ(AnswerPrompt(IDCANCEL, failed) != "", failed);
  EXPECT_EQ(first.Wait(15000), 1);
  EXPECT_EQ(StoredMode(), 1);
  // The same lines on 64-bit Windows, where they come from the device helper:
  // one run for each step, the opening's and OK's.
  EXPECT_EQ(ReadFile(firstOut),
            WINE_DIFFERS(Line("MI_00", "Enabled") + Line("MI_03", "Enabled") + Line("MI_08", "Disabled") +
                             Line("MI_08", "Enabled") + Line("MI_00", "Disabled") + Line("MI_03", "Disabled"),
                         Line("MI_00", "Fail") + Line("MI_03", "Fail") + Line("MI_08", "Fail") +
                             Line("MI_08", "Fail") + Line("MI_00", "Fail") + Line("MI_03", "Fail"),
                         kWineSwitchesNothing));
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  EXPECT_EQ(first.Children(), wow64 ? 2u : 0u);
  EXPECT_EQ(first.ChildImages(), std::vector<std::string>(first.Children(), "norza-device-helper.exe"));
  DeleteFileA(firstOut.c_str());
  DeleteFileA(secondOut.c_str());
}

TEST_F(KelvaneTest, AStartAfterTheFirstHasEndedIsAFirstInstance) {
  for (int run = 0; run < 2; ++run) {
    std::string out = TempFile("kelvane-run");
    Started panel(g_kelvane, "", out);
    ASSERT_TRUE(Eventually(Opened)) << run;
    // No stored mode: nothing checked, nothing switched.
    EXPECT_EQ(SendDlgItemMessageA(Dialog(), kWdmButton, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendDlgItemMessageA(Dialog(), kAsioButton, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    PostMessageA(Dialog(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(panel.Wait(15000), 1) << run;
    EXPECT_EQ(ReadFile(out), "") << run;
    EXPECT_EQ(StoredMode(), -1) << run;
    DeleteFileA(out.c_str());
  }
}

TEST_F(KelvaneTest, OkWithoutAChangeStoresTheModeAndEndsWithoutAPrompt) {
  StoreMode(1);
  Started panel(g_kelvane, "", TempFile("kelvane-same"));
  ASSERT_TRUE(Eventually(Opened));
  StoreMode(0x101);
  PostMessageA(Dialog(), WM_COMMAND, IDOK, 0);
  EXPECT_EQ(panel.Wait(15000), 1);
  EXPECT_EQ(StoredMode(), 1);
}

// Typed at the dialog with no mode stored (nothing checked): Tab reaches the
// mode buttons, and an arrow key picks a mode.
TEST_F(KelvaneTest, KeyboardAloneChoosesAMode) {
  Started panel(g_kelvane, "", TempFile("kelvane-keys"));
  ASSERT_TRUE(Eventually(Opened));
  HWND dialog = Dialog(), wdm = GetDlgItem(dialog, kWdmButton), asio = GetDlgItem(dialog, kAsioButton);
  SetForegroundWindow(dialog);
  ASSERT_TRUE(Eventually([&] { return GetForegroundWindow() == dialog; }));
  auto focus = [&] {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
  };
  auto press = [](BYTE key) { keybd_event(key, 0, 0, 0); keybd_event(key, 0, KEYEVENTF_KEYUP, 0); };
  for (int presses = 0; presses < 3; ++presses) {  // at most once round the three stops
    HWND before = focus();
    press(VK_TAB);
    Eventually([&] { return focus() != before; }, 2000);
    if (focus() == wdm || focus() == asio) break;
  }
  ASSERT_TRUE(focus() == wdm || focus() == asio) << "Tab never reached the mode buttons";
  HWND other = focus() == wdm ? asio : wdm;
  press(VK_RIGHT);
  EXPECT_TRUE(Eventually([&] { return SendMessageA(other, BM_GETCHECK, 0, 0) == BST_CHECKED; }));
  press(VK_ESCAPE);
  EXPECT_EQ(panel.Wait(15000), 1);
}

// Whether Windows asks a person before it elevates an administrator's program
// (any setting but "elevate without prompting").
bool ConsentAsksAPerson() {
  DWORD behaviour = 5, size = sizeof behaviour;  // Windows' own default asks
  HKEY key = nullptr;                              // the machine's policy, in the 64-bit view
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegQueryValueExA(key, "ConsentPromptBehaviorAdmin", nullptr, nullptr, reinterpret_cast<BYTE*>(&behaviour), &size);
    RegCloseKey(key);
  }
  return behaviour != 0;
}

// The user's own limited token, as User Account Control starts programs with:
// the token linked to this elevated one.
HANDLE LimitedToken() {
  HANDLE own = nullptr, primary = nullptr;
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) &&
      GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
    DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, &primary);
    CloseHandle(linked.LinkedToken);
  }
  if (own != nullptr) CloseHandle(own);
  return primary;
}

// Started from a standard account, each step that needs the rights starts
// the panel's own file through the elevation request (the prompt names the
// panel), once per step, with the same lines as an elevated start. In a
// 64-bit prefix the 32-bit panel's elevated run starts the helper itself.
// With the Norza unplugged, OK's run only stores the mode: its answer,
// through the answer pipe, is all that keeps the failure report away.
TEST_F(KelvaneTest, FromAStandardAccountEachStepStartsThePanelItselfElevated) {
  if (!e2e::UnderWine() && ConsentAsksAPerson()) {
    GTEST_SKIP() << "Windows asks a person for consent here; ConsentPromptBehaviorAdmin 0 lets the test run alone";
  }
  HANDLE limited = LimitedToken();
  ASSERT_NE(limited, nullptr);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(limited, TokenElevation, &elevation, sizeof elevation, &size));
  ASSERT_EQ(elevation.TokenIsElevated, 0u);
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  using Images = std::vector<std::string>;
  std::string out = TempFile("kelvane-limited");
  // The same from a folder whose name the ANSI code page cannot spell: the
  // panel starts its own file by its full name.
  Folder beyondAnsi("\xd0\x96\xd0\xb5\xd0\xbd\xd1\x8f-");  // "Женя-"
  for (const std::string& kelvane : {g_kelvane, beyondAnsi.Copy(g_kelvane, "kelvane.exe")}) {
    SCOPED_TRACE(kelvane);
    ASSERT_TRUE(e2e::RegisterDevices(e2e::NorzaFunctions()));  // as new: on Windows the first start switched them
    StoreMode(0);
    {
      Started panel(kelvane, "", out, limited);
      ASSERT_TRUE(panel.ok());
      ASSERT_TRUE(Eventually(Opened));
      PostMessageA(Dialog(), WM_COMMAND, IDCANCEL, 0);
      EXPECT_EQ(panel.Wait(15000), 1);
      EXPECT_EQ(panel.ChildImages(), wow64 ? (Images{"kelvane.exe", "norza-device-helper.exe"}) : Images{"kelvane.exe"});
    }
    // Only the elevated run's answer, through its pipe, carries these lines.
    EXPECT_EQ(ReadFile(out),
              WINE_DIFFERS(Line("MI_00", "Enabled") + Line("MI_03", "Enabled") + Line("MI_08", "Disabled"),
                           Line("MI_00", "Fail") + Line("MI_03", "Fail") + Line("MI_08", "Fail"),
                           kWineSwitchesNothing));
    EXPECT_EQ(StoredMode(), 0);
  }

  e2e::RemoveDevices(e2e::NorzaFunctions());
  {
    Started panel(g_kelvane, "", out, limited);
    ASSERT_TRUE(Eventually(Opened));
    SendDlgItemMessageA(Dialog(), kAsioButton, BM_CLICK, 0, 0);
    PostMessageA(Dialog(), WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Eventually([] { return Prompt() != nullptr; }));
    PostMessageA(Prompt(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(panel.Wait(15000), 1) << "a failure report is up";
    EXPECT_EQ(panel.ChildImages(), Images{"kelvane.exe"});
  }
  CloseHandle(limited);
  EXPECT_EQ(ReadFile(out), "");
  EXPECT_EQ(StoredMode(), 1);
  DeleteFileA(out.c_str());
}

// The elevated run writes nowhere but a pipe of the panel's naming: a name
// that climbs out of the pipe namespace to a file is refused before anything
// is stored or written.
TEST_F(KelvaneTest, TheElevatedRunRefusesAnAnswerPipeThatIsAFile) {
  StoreMode(0);
  const std::string target = TempFile("kelvane-target");
  std::ofstream(target, std::ios::binary) << "untouched";
  const std::string climbing = "\\\\.\\pipe\\norza-\\..\\..\\" + target;
  std::string out = TempFile("kelvane-refused");
  {
    Started run(g_kelvane, "--switch-elevated 1 \"" + climbing + "\"", out);
    ASSERT_TRUE(run.ok());
    EXPECT_NE(run.Wait(15000), 0);
    EXPECT_TRUE(run.ChildImages().empty());
  }
  EXPECT_EQ(ReadFile(target), "untouched");
  EXPECT_EQ(ReadFile(out), "");
  EXPECT_EQ(StoredMode(), 0);
  EXPECT_EQ(Dialog(), nullptr);
  DeleteFileA(target.c_str());
  DeleteFileA(out.c_str());
}

// The module `name` as process `pid` has it loaded: its full path, or "".
std::string LoadedModule(DWORD pid, const char* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
  std::string path;
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32First(snapshot, &module); more && path.empty(); more = Module32Next(snapshot, &module)) {
    if (lstrcmpiA(module.szModule, name) == 0) path = module.szExePath;
  }
  if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
  return path;
}

// winmm is no KnownDLL: one planted beside the panel is never loaded, neither
// by an ordinary start that moves the preferred sound devices (winmm then
// comes from the system folder), nor by the elevated run's command line, a
// refused one included. This test's entry has Wine search a program's folder
// first for winmm (WINEDLLOVERRIDES=winmm=n,b), as Windows does.
TEST_F(KelvaneTest, ALibraryPlantedBesideThePanelIsNeverLoaded) {
  ASSERT_FALSE(g_winmm.empty()) << "pass the winmm.dll to plant";
  Folder downloads("kelvane-planted-");
  const std::string kelvane = downloads.Copy(g_kelvane, "kelvane.exe");
  downloads.Copy(g_winmm, "winmm.dll");
  downloads.files.push_back(downloads.path + "\\winmm.dll.loaded");
  StoreMode(0);
  for (const char* value : {"Playback", "Record"}) {
    regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, value, REG_SZ, regtest::Sz("Quorvin Direct Device"));
  }
  {
    Started panel(kelvane, "", TempFile("kelvane-planted"));
    ASSERT_TRUE(Eventually(Opened));
    SendDlgItemMessageA(Dialog(), kAsioButton, BM_CLICK, 0, 0);
    PostMessageA(Dialog(), WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Eventually([] { return Prompt() != nullptr; }));
    const std::string winmm = LoadedModule(panel.pid(), "winmm.dll");
    EXPECT_NE(winmm, "") << "the preferred sound devices were not looked for";
    EXPECT_EQ(winmm.find("kelvane-planted-"), std::string::npos) << winmm;
    AnswerPrompt(IDCANCEL, WINE_DIFFERS(false, true, kWineSwitchesNothing));
    EXPECT_EQ(panel.Wait(15000), 1);
  }
  for (const char* args : {"--switch-elevated 0 \\\\.\\pipe\\norza-0123456789abcdef", "--switch-elevated 7 x"}) {
    Started run(kelvane, args, TempFile("kelvane-planted-run"));
    EXPECT_NE(run.Wait(15000), -1) << args;
  }
  EXPECT_FALSE(downloads.Has("winmm.dll.loaded"));
}

// A window that records the session-end messages it receives.
LRESULT CALLBACK WitnessProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static std::string* file = reinterpret_cast<std::string*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION) {
    file = reinterpret_cast<std::string*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    std::ofstream(*file, std::ios::app | std::ios::binary) << (message == WM_QUERYENDSESSION ? "query\n" : "end\n");
    return TRUE;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

int RunWitness(std::string file) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WitnessProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "NorzaSessionWitness";
  RegisterClassA(&wc);
  HWND w = CreateWindowA(wc.lpszClassName, "witness", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         wc.hInstance, nullptr);
  SetWindowLongPtrA(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&file));
  ShowWindow(w, SW_SHOWNOACTIVATE);
  std::ofstream(file, std::ios::app | std::ios::binary) << "up\n";
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

// A log-off would end every windowed process of the prefix: this test's entry
// runs it alone.
TEST_F(KelvaneTest, FailedSwitchEndsNoSessionWhateverTheAnswer) {
  std::string witnessFile = TempFile("kelvane-witness");
  Started witness(g_self, "--witness \"" + witnessFile + "\"", TempFile("kelvane-witness-out"));
  ASSERT_TRUE(Eventually([&] { return ReadFile(witnessFile) == "up\n"; }));

  // Cancel leaves the session alone.
  StoreMode(0);
  {
    Started panel(g_kelvane, "", TempFile("kelvane-cancel"));
    ASSERT_TRUE(Eventually(Opened));
    SendDlgItemMessageA(Dialog(), kAsioButton, BM_CLICK, 0, 0);
    PostMessageA(Dialog(), WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Eventually([] { return Prompt() != nullptr; }));
    AnswerPrompt(IDCANCEL, WINE_DIFFERS(false, true, kWineSwitchesNothing));
    EXPECT_EQ(panel.Wait(15000), 1);
  }
  Sleep(500);
  EXPECT_EQ(ReadFile(witnessFile), "up\n");
  EXPECT_EQ(witness.Wait(0), -1) << "the witness must still run";

  // OK meets the failure report, and the session stays.
  if (!e2e::UnderWine()) {
    DeleteFileA(witnessFile.c_str());
    GTEST_SKIP() << "on Windows the stand-ins switch, and OK would end this session";
  }
  Started panel(g_kelvane, "", TempFile("kelvane-ok"));
  ASSERT_TRUE(Eventually(Opened));
  EXPECT_EQ(SendDlgItemMessageA(Dialog(), kAsioButton, BM_GETCHECK, 0, 0), BST_CHECKED);
  SendDlgItemMessageA(Dialog(), kWdmButton, BM_CLICK, 0, 0);
  PostMessageA(Dialog(), WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Eventually([] { return Prompt() != nullptr; }));
  std::string report = AnswerPrompt(IDOK, true);
  EXPECT_NE(report.find("could not be changed: 3 of its 3 functions"), std::string::npos) << report;
  EXPECT_EQ(panel.Wait(15000), 1);
  Sleep(500);
  EXPECT_EQ(ReadFile(witnessFile), "up\n");
  EXPECT_EQ(witness.Wait(0), -1) << "the witness must still run";
  EXPECT_EQ(StoredMode(), 0);
  DeleteFileA(witnessFile.c_str());
}

// Runs kelvane.exe with `args` from a console of its own, as an administrator
// would, started with no standard handles at all; its exit code, and in
// `text` what the console shows, a line per row (kelvane.exe is a windowed
// program: its lines reach the console only because it looks for it).
long RunInConsole(const std::string& args, std::string* text) {
  FreeConsole();
  AllocConsole();
  HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;  // all null
  PROCESS_INFORMATION pi{};
  std::string command = "\"" + g_kelvane + "\" " + args;
  DWORD code = 99;
  if (CreateProcessA(g_kelvane.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(screen, &info);
  text->clear();
  for (SHORT y = 0; y < info.dwCursorPosition.Y; ++y) {
    std::string row(info.dwSize.X, ' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterA(screen, &row[0], info.dwSize.X, COORD{0, y}, &read);
    *text += row.substr(0, row.find_last_not_of(' ') + 1) + "\n";
  }
  CloseHandle(screen);
  FreeConsole();
  return static_cast<long>(code);
}

// A console row: no CR, no trailing blanks.
std::string Row(const std::string& function, const std::string& word) {
  std::string line = Line(function, word);
  return line.substr(0, line.size() - 2) + "\n";
}

TEST_F(KelvaneTest, CommandsForScriptsWriteToTheConsoleTheyAreStartedFrom) {
  StoreMode(0);
  std::string text;
  // The stand-ins as the platform reports them: running under Windows'
  // driver, never started under Wine's.
  const char* state = WINE_DIFFERS("enabled", "stopped", "Wine starts no driver for a stand-in device");
  EXPECT_EQ(RunInConsole("--status", &text), 1);  // function 8 runs, though WDM is stored
  EXPECT_EQ(text, "Stored mode: WDM\n" + Row("MI_00", state) + Row("MI_03", state) + Row("MI_08", state));

  const long code = RunInConsole("--mode asio", &text);
  EXPECT_EQ(code, WINE_DIFFERS(3010L, code != 3010 && code != 0 ? code : -1L, kWineSwitchesNothing));
  EXPECT_EQ(StoredMode(), 1);
  // Wine's failure carries its error after the word.
  const std::string first =
      WINE_DIFFERS(Row("MI_08", "Enabled"), Row("MI_08", "Fail 0x").substr(0, 69), kWineSwitchesNothing);
  EXPECT_EQ(text.substr(0, first.size()), first) << text;
  EXPECT_NE(text.find(WINE_DIFFERS("in ASIO mode; restart Windows", "could not be put in ASIO mode: error 0x",
                                   kWineSwitchesNothing)),
            std::string::npos)
      << text;
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  g_self = self;
  if (argc > 2 && std::strcmp(argv[1], "--witness") == 0) return RunWitness(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) g_kelvane = argv[1];
  if (argc > 2) g_winmm = argv[2];
  return RUN_ALL_TESTS();
}
