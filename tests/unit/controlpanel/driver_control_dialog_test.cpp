// The driver control dialog, driven by control identifiers.
#include <gtest/gtest.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "controlpanel/commands.h"
#include "devicecontrol/device_status.h"
#include "controlpanel/driver_control_dialog.h"
#include "elevation/run_side.h"
#include "elevation/elevation_protocol.h"
#include "drivermode/mode_functions.h"
#include "drivermode/mode_store.h"
#include "registry_snapshot.h"
#include "controlpanel/resource.h"
#include "sim_machine.h"

using namespace controlpanel;
using namespace drivermode;

namespace {

const char kMapperKey[] = "Software\\Microsoft\\Multimedia\\Sound Mapper";
const char kMi00[] = "USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000";
const char kMi03[] = "USB\\VID_7E51&PID_0002&MI_03\\7&1A2B3C&0&0003";
const char kMi08[] = "USB\\VID_7E51&PID_0002&MI_08\\7&1A2B3C&0&0008";

HMODULE g_resources;  // kelvane.exe, loaded as data for its dialog template

// Two render endpoints; the direct device's is the default for every role.
void DirectDeviceIsTheDefaultEndpoint(HRESULT setDefault = S_OK) {
  sim::machine().audioEndpoints = {{L"direct", eRender, L"Quorvin Direct Device"}, {L"speakers", eRender, L"Speakers"}};
  sim::machine().defaultEndpoints = {{L"direct", L"direct", L"direct"}};
  sim::machine().setDefaultEndpoint = setDefault;
}
std::wstring RenderDefault() {
  const auto& defaults = sim::machine().defaultEndpoints;
  return defaults.empty() ? L"" : defaults[eRender][eConsole];
}

// What the prompt looked like and how the test answers it.
struct Prompt {
  int answer = IDCANCEL;
  int shown = 0;
  std::string text;
  std::string caption;
  // Checked while the prompt is up.
  std::optional<regtest::Value> playbackAtPrompt;
  std::wstring renderDefaultAtPrompt;
  size_t stateRequestsAtPrompt = 0;
  // Run while the prompt is up, before it is answered.
  void (*during)(HWND dialog) = nullptr;
  HWND dialog = nullptr;
  HWND answered = nullptr;
  // The failure report, if one follows the prompt (answered OK).
  std::string report;
  bool reportErrorIconOkOnly = false;
} g_prompt;

size_t StateRequests() {
  return sim::CallsOf("SetupDiSetClassInstallParamsA").size();
}

BOOL CALLBACK FindPrompt(HWND window, LPARAM found) {
  char title[64] = "";
  char cls[16] = "";
  GetWindowTextA(window, title, sizeof title);
  GetClassNameA(window, cls, sizeof cls);
  if (std::string(cls) == "#32770" && std::string(title) == "Norza Driver" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void AnswerReport(HWND box) {
  char text[512] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  g_prompt.report += text;
  bool errorIcon = false;
  for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    errorIcon |= SendMessageA(c, STM_GETICON, 0, 0) == reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_ERROR));
  }
  g_prompt.reportErrorIconOkOnly =
      errorIcon && IsWindowVisible(GetDlgItem(box, IDOK)) && !IsWindowVisible(GetDlgItem(box, IDCANCEL));
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Fires inside the message boxes' own loops: the prompt, then any report.
void CALLBACK AnswerPrompt(HWND, UINT, UINT_PTR, DWORD) {
  HWND prompt = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindPrompt, reinterpret_cast<LPARAM>(&prompt));
  if (prompt == nullptr || prompt == g_prompt.answered) return;
  g_prompt.answered = prompt;
  if (g_prompt.shown > 0) return AnswerReport(prompt);
  ++g_prompt.shown;
  char caption[128] = "";
  GetWindowTextA(prompt, caption, sizeof caption);
  g_prompt.caption = caption;
  char text[256] = "";
  GetDlgItemTextA(prompt, 0xFFFF, text, sizeof text);  // the message box's text control
  g_prompt.text = text;
  g_prompt.playbackAtPrompt = regtest::GetValue(HKEY_CURRENT_USER, kMapperKey, "Playback");
  g_prompt.stateRequestsAtPrompt = StateRequests();
  g_prompt.renderDefaultAtPrompt = RenderDefault();
  if (g_prompt.during != nullptr) g_prompt.during(g_prompt.dialog);
  PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(g_prompt.answer, BN_CLICKED), 0);
}

// The quit message the dialog's destruction posts, taken off the queue.
bool TakeQuit(WPARAM* exitCode) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
  *exitCode = msg.wParam;
  return true;
}

class DriverControlDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(g_resources, nullptr) << "pass the path of kelvane.exe";
    sim::Reset();
    sim::machine().elevatedRun = elevation::AnswerElevatedRun;
    sim::AddDevice(kMi00, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&MI_00"});
    sim::AddDevice(kMi03, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&MI_03"});
    sim::AddDevice(kMi08, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&MI_08"});
    regtest::DeleteKey(HKEY_LOCAL_MACHINE, drivermode::kModeKey);
    regtest::DeleteKey(HKEY_CURRENT_USER, kMapperKey);
    g_prompt = Prompt{};
  }

  void TearDown() override {
    if (dialog != nullptr && IsWindow(dialog)) DestroyWindow(dialog);
    WPARAM code;
    TakeQuit(&code);
    EXPECT_EQ(sim::machine().openSets, 0);
    mapper.Restore();
    norza.Restore();
    devicecontrol::SetStatusErrors(false);
  }

  void StoreMode(DWORD value) {
    regtest::SetValue(HKEY_LOCAL_MACHINE, drivermode::kModeKey, drivermode::kModeValue, REG_DWORD,
                      std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&value), reinterpret_cast<uint8_t*>(&value) + 4));
  }

  std::optional<DWORD> StoredMode() {
    auto v = regtest::GetValue(HKEY_LOCAL_MACHINE, drivermode::kModeKey, drivermode::kModeValue);
    if (!v || v->type != REG_DWORD || v->data.size() != 4) return std::nullopt;
    DWORD value;
    std::memcpy(&value, v->data.data(), 4);
    return value;
  }

  // Creates the dialog and lets it run its opening, which it posts itself.
  void Open() {
    sim::StdoutCapture capture;
    dialog = CreateDialogParamA(g_resources, MAKEINTRESOURCEA(IDD_DRIVER_CONTROL), nullptr, DriverControlDialog, 0);
    MSG message;
    while (dialog != nullptr && PeekMessageA(&message, dialog, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    opening = capture.Finish();
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOW);
    g_prompt.dialog = dialog;
  }

  void Click(int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

  // Presses a push button as its click reaches the dialog; the prompt, if one
  // comes up, is answered with g_prompt.answer.
  void Press(int id) {
    UINT_PTR timer = SetTimer(nullptr, 0, 20, AnswerPrompt);
    sim::StdoutCapture capture;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    switching = capture.Finish();
    KillTimer(nullptr, timer);
  }

  bool Checked(int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

  bool Closed() {
    WPARAM code = 99;
    bool quit = TakeQuit(&code);
    return !IsWindow(dialog) && quit && code == 0;
  }

  // The devices whose state was asked to change, with the change, in order.
  static std::vector<std::string> Switches() {
    std::vector<std::string> out;
    for (const auto& c : sim::CallsOf("SetupDiCallClassInstaller")) {
      if (c.b == DICS_FLAG_CONFIGSPECIFIC) {
        out.push_back((c.a == DICS_ENABLE ? "+" : "-") + c.device.substr(22, 5));
      }
    }
    return out;
  }

  static bool Enabled(const char* id) {
    const auto* d = sim::FindDevice(id);
    return d->enabledConfig && d->enabledGlobal;
  }

  // Runs a command for scripts as kelvane.exe's entry does, with its output.
  uint32_t Command(std::vector<const char*> args) {
    args.insert(args.begin(), "kelvane.exe");
    sim::StdoutCapture capture;
    const uint32_t code = RunCommand(ParseCommandLine(static_cast<int>(args.size()), args.data()));
    switching = capture.Finish();
    return code;
  }

  regtest::KeySnapshot norza{HKEY_LOCAL_MACHINE, drivermode::kModeKey};
  regtest::KeySnapshot mapper{HKEY_CURRENT_USER, kMapperKey};
  HWND dialog = nullptr;
  std::string opening;
  std::string switching;
};

using Steps = std::vector<std::string>;

// A test over a table of cases, each on a fresh machine and dialog, named
// by the case.
template <typename Case>
class DialogCases : public DriverControlDialogTest, public ::testing::WithParamInterface<Case> {};
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}
// Cases that are one value: their names, in the value's order.
template <typename Value>
std::function<std::string(const ::testing::TestParamInfo<Value>&)> Named(std::vector<std::string> names) {
  return [names](const ::testing::TestParamInfo<Value>& info) { return names[static_cast<size_t>(info.param)]; };
}

TEST_F(DriverControlDialogTest, StoredWdmIsShownReappliedAndStoredAgain) {
  StoreMode(0x100);  // reads as WDM and is rewritten as plain 0
  sim::machine().devices[0].enabledConfig = false;
  Open();
  EXPECT_TRUE(Checked(IDC_WDM_MODE));
  EXPECT_FALSE(Checked(IDC_ASIO_MODE));
  EXPECT_EQ(Switches(), (Steps{"+MI_00", "+MI_03", "-MI_08"}));
  EXPECT_TRUE(Enabled(kMi00) && Enabled(kMi03) && !Enabled(kMi08));
  EXPECT_EQ(StoredMode(), 0u);
  EXPECT_NE(opening.find(kMi08), std::string::npos);

  // OK without a change: stored again, closed, no prompt, nothing switched.
  StoreMode(7);
  sim::machine().calls.clear();
  DirectDeviceIsTheDefaultEndpoint();
  Press(IDOK);
  EXPECT_EQ(RenderDefault(), L"direct");
  EXPECT_EQ(StoredMode(), 0u);
  EXPECT_EQ(g_prompt.shown, 0);
  EXPECT_TRUE(Switches().empty());
  EXPECT_TRUE(sim::machine().exitRequests.empty());
  EXPECT_TRUE(Closed());
}

TEST_F(DriverControlDialogTest, StoredAsioIsShownAndReapplied) {
  StoreMode(1);
  Open();
  EXPECT_TRUE(Checked(IDC_ASIO_MODE));
  EXPECT_FALSE(Checked(IDC_WDM_MODE));
  EXPECT_EQ(Switches(), (Steps{"+MI_08", "-MI_00", "-MI_03"}));
  EXPECT_EQ(StoredMode(), 1u);
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_ASIO_MODE));  // the group's only tab stop
}

// Moving the default endpoints works, is impossible, or fails: the rest is the same.
struct NoModeCase {
  const char* name;
  DWORD unreadable;  // what is stored instead of a mode; 0: no value at all
  HRESULT setDefault;
};
using NoStoredMode = DialogCases<NoModeCase>;

TEST_P(NoStoredMode, TouchesNothingThenOkSwitchesToAsio) {
  const DWORD unreadable = GetParam().unreadable;
  const HRESULT setDefault = GetParam().setDefault;
  DirectDeviceIsTheDefaultEndpoint(setDefault);
  if (unreadable != 0) StoreMode(unreadable);  // 0: no value at all
  regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, "Playback", REG_SZ, regtest::Sz("Quorvin Direct Device"));
  regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, "Record", REG_SZ, regtest::Sz("Line In"));
  sim::machine().waveOut = {"Quorvin Direct Device", "Speakers"};
  sim::machine().waveIn = {"Microphone"};

  Open();
  EXPECT_FALSE(Checked(IDC_WDM_MODE));
  EXPECT_FALSE(Checked(IDC_ASIO_MODE));
  EXPECT_EQ(sim::machine().setsBuilt, 0);
  EXPECT_EQ(opening, "");

  Press(IDOK);
  EXPECT_EQ(StoredMode(), 1u);
  EXPECT_EQ(regtest::GetValue(HKEY_CURRENT_USER, kMapperKey, "Playback")->data, regtest::Sz("Speakers"));
  EXPECT_EQ(regtest::GetValue(HKEY_CURRENT_USER, kMapperKey, "Record")->data, regtest::Sz("Microphone"));
  EXPECT_EQ(g_prompt.shown, 1);
  // The sound devices move before the prompt; the devices switch after it.
  EXPECT_EQ(g_prompt.playbackAtPrompt->data, regtest::Sz("Speakers"));
  EXPECT_EQ(g_prompt.renderDefaultAtPrompt, setDefault == S_OK ? L"speakers" : L"direct");
  EXPECT_EQ(g_prompt.stateRequestsAtPrompt, 0u);
  EXPECT_EQ(Switches(), (Steps{"+MI_08", "-MI_00", "-MI_03"}));
  EXPECT_TRUE(sim::machine().exitRequests.empty());
  EXPECT_TRUE(Closed());
}
INSTANTIATE_TEST_SUITE_P(DriverControlDialogTest, NoStoredMode,
                         ::testing::Values(NoModeCase{"MinusOneEndpointsMove", 0xFFFFFFFFu, S_OK},
                                           NoModeCase{"TwoNoEndpoints", 2u, REGDB_E_CLASSNOTREG},
                                           NoModeCase{"NoValueEndpointsFail", 0u, E_FAIL}),
                         CaseName<NoModeCase>);

TEST_F(DriverControlDialogTest, PromptTextAndCaption) {
  StoreMode(0);
  Open();
  Click(IDC_ASIO_MODE);
  Press(IDOK);
  EXPECT_EQ(g_prompt.text, "Your machine needs to be rebooted for the changes to take place");
  EXPECT_EQ(g_prompt.caption, "Norza Driver");
}

TEST_F(DriverControlDialogTest, ChangeAnsweredCancelSwitchesWithoutEndingTheSession) {
  StoreMode(0);
  Open();
  sim::machine().calls.clear();
  Click(IDC_ASIO_MODE);
  EXPECT_TRUE(Checked(IDC_ASIO_MODE));
  EXPECT_FALSE(Checked(IDC_WDM_MODE));
  g_prompt.answer = IDCANCEL;
  Press(IDOK);
  EXPECT_EQ(StoredMode(), 1u);
  EXPECT_EQ(Switches(), (Steps{"+MI_08", "-MI_00", "-MI_03"}));
  EXPECT_TRUE(Enabled(kMi08) && !Enabled(kMi00) && !Enabled(kMi03));
  EXPECT_TRUE(sim::machine().exitRequests.empty());
  EXPECT_TRUE(Closed());
}

// OK ends the session after the switch, unless a function failed to switch:
// then the user is told why, and the stored mode is left for the next opening.
struct OkCase {
  const char* name;
  bool plugged;
  sim::PropChange mi08;
  bool logsOff;
  bool storeFails = false;
};
using ChangeAnsweredOk = DialogCases<OkCase>;

TEST_P(ChangeAnsweredOk, LogsOffAfterTheSwitchUnlessAFunctionFailed) {
  using Exits = std::vector<std::pair<UINT, DWORD>>;
  const OkCase& c = GetParam();
  StoreMode(1);
  Open();
  for (auto& d : sim::machine().devices) d.present = c.plugged;
  sim::machine().devices[2].propChange = c.mi08;
  sim::machine().valueWritesFail = c.storeFails;
  sim::machine().calls.clear();
  Click(IDC_WDM_MODE);
  g_prompt.answer = IDOK;
  Press(IDOK);
  EXPECT_EQ(StoredMode(), c.storeFails ? 1u : 0u);
  EXPECT_EQ(Switches(), c.plugged ? (Steps{"+MI_00", "+MI_03", "-MI_08"}) : Steps{});
  EXPECT_EQ(sim::machine().exitRequests, (c.logsOff ? Exits{{EWX_LOGOFF, 0xFFFFFFFF}} : Exits{}));
  if (c.logsOff) {
    EXPECT_EQ(sim::CallNames().back(), "ExitWindowsEx");
  }
  // The report says how many of the Norza's functions failed, or that the
  // mode is not stored.
  EXPECT_EQ(g_prompt.report.find("1 of its 3") != std::string::npos, !c.logsOff && !c.storeFails) << g_prompt.report;
  EXPECT_EQ(g_prompt.report.find("could not be stored") != std::string::npos, c.storeFails) << g_prompt.report;
  EXPECT_EQ(g_prompt.report.empty(), c.logsOff);
  EXPECT_EQ(g_prompt.reportErrorIconOkOnly, !c.logsOff);
  EXPECT_TRUE(Closed());
}
INSTANTIATE_TEST_SUITE_P(DriverControlDialogTest, ChangeAnsweredOk,
                         ::testing::Values(OkCase{"Mi08NeedsAReboot", true, sim::PropChange::NeedsReboot, true},
                                           OkCase{"Mi08Fails", true, sim::PropChange::FailClassInstaller, false},
                                           OkCase{"Unplugged", false, sim::PropChange::Done, true},
                                           OkCase{"ModeNotStored", true, sim::PropChange::Done, false, true}),
                         CaseName<OkCase>);

enum Way { CancelButton, EscapeKey, CloseBox };
using Dismissal = DialogCases<Way>;

TEST_P(Dismissal, StoresAndSwitchesNothing) {
  const Way way = GetParam();
  StoreMode(1);
  Open();
  StoreMode(0x101);  // whatever is stored stays exactly as it is
  sim::machine().calls.clear();
  Click(IDC_WDM_MODE);
  EXPECT_TRUE(Checked(IDC_WDM_MODE));
  switch (way) {
    case CancelButton:
      Press(IDCANCEL);
      break;
    case EscapeKey: {
      HWND focus = GetDlgItem(dialog, IDCANCEL);
      SetFocus(focus);
      MSG msg{focus, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
      EXPECT_TRUE(IsDialogMessageA(dialog, &msg));
      break;
    }
    case CloseBox:
      SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
  EXPECT_EQ(StoredMode(), 0x101u) << way;
  EXPECT_TRUE(Switches().empty()) << way;
  EXPECT_EQ(g_prompt.shown, 0) << way;
  EXPECT_TRUE(Closed()) << way;
}
INSTANTIATE_TEST_SUITE_P(DriverControlDialogTest, Dismissal, ::testing::Values(CancelButton, EscapeKey, CloseBox),
                         Named<Way>({"CancelButton", "EscapeKey", "CloseBox"}));

TEST_F(DriverControlDialogTest, ShowMessageShowsAndRaisesAndIsNotHandled) {
  Open();
  ShowWindow(dialog, SW_HIDE);
  EXPECT_EQ(DriverControlDialog(dialog, WM_SHOW_CONTROL_PANEL, 0, 0), FALSE);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(GetForegroundWindow(), dialog);
}

TEST_F(DriverControlDialogTest, OtherSystemCommandsAndCommandsGetTheDefaultHandling) {
  Open();
  EXPECT_EQ(DriverControlDialog(dialog, WM_SYSCOMMAND, SC_KEYMENU, 0), FALSE);
  EXPECT_EQ(DriverControlDialog(dialog, WM_SYSCOMMAND, SC_CLOSE | 1, 0), FALSE);  // not exactly SC_CLOSE
  EXPECT_EQ(DriverControlDialog(dialog, WM_COMMAND, IDC_WDM_MODE, 0), FALSE);
  EXPECT_EQ(DriverControlDialog(dialog, WM_MOUSEMOVE, 0, 0), FALSE);
  EXPECT_TRUE(IsWindow(dialog));
}

// While the prompt is up, a second start can show the dialog again; its
// buttons must not start a second switch, prompt or log-off.
TEST_F(DriverControlDialogTest, ButtonsAreIgnoredWhileThePromptIsUp) {
  StoreMode(0);
  Open();
  sim::machine().calls.clear();
  Click(IDC_ASIO_MODE);
  g_prompt.answer = IDOK;
  g_prompt.during = [](HWND dialog) {
    DriverControlDialog(dialog, WM_SHOW_CONTROL_PANEL, 0, 0);
    EXPECT_TRUE(IsWindowVisible(dialog));
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(dialog));
  };
  Press(IDOK);
  EXPECT_EQ(g_prompt.shown, 1);
  EXPECT_EQ(Switches(), (Steps{"+MI_08", "-MI_00", "-MI_03"}));
  EXPECT_EQ(sim::machine().exitRequests.size(), 1u);
  EXPECT_TRUE(Closed());
}

// The dialog is on screen while its opening switches, with this thread's
// messages flowing (the wait for the device helper on 64-bit Windows, or
// for the step's own thread): its buttons must do nothing until the
// opening's switch is through, clicks sent or posted alike.
using OpeningSwitch = DialogCases<bool>;  // a 32-bit panel on 64-bit Windows

TEST_P(OpeningSwitch, IgnoresTheButtonsMeanwhile) {
  const bool wow64 = GetParam();
  StoreMode(0);
  sim::machine().wow64 = wow64;
  sim::machine().duringHelperRun = [] {
    HWND opening = FindWindowA("#32770", "Norza Driver Control");
    EXPECT_TRUE(IsWindowVisible(opening)) << "the dialog shows before its opening's switch";
    SendMessageA(opening, WM_COMMAND, IDOK, 0);
    SendMessageA(opening, WM_COMMAND, IDCANCEL, 0);
  };
  sim::machine().duringStateChange = [] {
    HWND opening = FindWindowA("#32770", "Norza Driver Control");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(opening, IDOK))) << "greyed while it switches";
    PostMessageA(opening, WM_COMMAND, IDOK, 0);
    PostMessageA(opening, WM_COMMAND, IDCANCEL, 0);
    Sleep(100);  // the dialog's thread takes them meanwhile
  };
  Open();
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_EQ(sim::machine().helperRequests.size(), wow64 ? 1u : 0u);  // one run enables and disables
  EXPECT_EQ(sim::machine().elevatedRuns, 0) << "an elevated panel asks nobody's consent";
  EXPECT_TRUE(Enabled(kMi00) && Enabled(kMi03) && !Enabled(kMi08));
  EXPECT_EQ(StoredMode(), 0u);
}
INSTANTIATE_TEST_SUITE_P(DriverControlDialogTest, OpeningSwitch, ::testing::Bool(),
                         Named<bool>({"InThisProcess", "ThroughTheHelper"}));

// A standard account (User Account Control): the panel holds no rights, on
// 64-bit Windows, with the machine in WDM mode.
void StandardAccount(bool mi08Enabled) {
  auto& m = sim::machine();
  m.elevated = false;
  m.virtualized = true;
  m.wow64 = true;
  for (auto& d : m.devices) d.statusReadable = true;
  m.devices[2].enabledConfig = mi08Enabled;
}

std::string Line(const char* id, const char* word) { return id + std::string(60 - std::strlen(id), ' ') + ": " + word + "\n"; }

// A function's outcome as the elevated run answers it: done, without error.
std::string Done(const char* id) {
  wire::DeviceOutcome outcome;
  std::strcpy(outcome.id, id);
  outcome.status = wire::DeviceStatus::Done;
  wire::Text line;
  wire::WriteOutcome(line, outcome);
  return std::string(line.data(), line.size());
}

const std::string kVirtualStore = std::string("Software\\Classes\\VirtualStore\\MACHINE\\") + drivermode::kModeKey;

// The opening asks for consent only when a function must change, and stores
// the mode again (0x100 as plain 0) only in an elevated run it needs anyway.
using StandardAccountOpening = DialogCases<bool>;  // the functions in step with the mode

TEST_P(StandardAccountOpening, AsksOnlyWhenAFunctionMustChange) {
  const bool inStep = GetParam();
  StandardAccount(!inStep);
  StoreMode(0x100);
  Open();
  EXPECT_EQ(sim::machine().elevatedModes, inStep ? std::vector<int>{} : std::vector<int>{0});
  // The elevated run, a 32-bit process too, hands the switch to the helper.
  EXPECT_EQ(sim::CallsOf("RunDeviceHelper").size(), inStep ? 0u : 1u);
  EXPECT_EQ(opening, Line(kMi00, "Enabled") + Line(kMi03, "Enabled") + Line(kMi08, "Disabled"));
  EXPECT_TRUE(Enabled(kMi00) && Enabled(kMi03) && !Enabled(kMi08));
  EXPECT_EQ(StoredMode(), inStep ? 0x100u : 0u);
  EXPECT_FALSE(sim::machine().virtualized);
  EXPECT_FALSE(regtest::GetValue(HKEY_CURRENT_USER, kVirtualStore.c_str(), drivermode::kModeValue));
}
INSTANTIATE_TEST_SUITE_P(DriverControlDialogTest, StandardAccountOpening, ::testing::Bool(),
                         Named<bool>({"OutOfStep", "InStep"}));

// OK starts the panel's own elevated run once, after the prompt: it stores
// the mode and switches, on 32-bit Windows too. Declined consent switches
// nothing, stores nothing and says why; a mode the run could not store is
// reported, and neither ends the session. A run given up at the panel's limit
// has said that it stored the mode; what it switched is not known.
struct ConsentCase {
  const char* name;
  sim::Consent consent;
  bool wow64;
  bool storeFails = false;
  bool noStart = false;
  bool neverEnds = false;
};
using StandardAccountOk = DialogCases<ConsentCase>;

TEST_P(StandardAccountOk, SwitchesInOneElevatedRunOrSaysWhatIsMissing) {
  const ConsentCase& c = GetParam();
  if (!c.wow64 && sizeof(void*) == 8) GTEST_SKIP() << "a 64-bit panel runs on 64-bit Windows";
  const bool given = c.consent == sim::Consent::Given && !c.noStart;
  const sim::Consent consent = c.consent;
  StandardAccount(false);
  sim::machine().wow64 = c.wow64;
  StoreMode(0);
  regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, "Playback", REG_SZ, regtest::Sz("Quorvin Direct Device"));
  regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, "Record", REG_SZ, regtest::Sz("Line In"));
  sim::machine().waveOut = {"Speakers"};
  sim::machine().waveIn = {"Microphone"};
  sim::machine().consent = consent;
  Open();
  EXPECT_TRUE(sim::CallsOf("RunElevated").empty()) << "the opening is in step";
  Click(IDC_ASIO_MODE);
  g_prompt.answer = IDOK;
  sim::machine().valueWritesFail = c.storeFails;
  if (c.noStart) sim::machine().elevatedRunGoes = sim::ElevatedRun::CannotStart;  // ERROR_FILE_NOT_FOUND
  if (c.neverEnds) sim::machine().elevatedRunGoes = sim::ElevatedRun::NeverEnds;
  Press(IDOK);
  EXPECT_EQ(g_prompt.playbackAtPrompt->data, regtest::Sz("Speakers"));
  EXPECT_EQ(g_prompt.stateRequestsAtPrompt, 0u);
  EXPECT_EQ(sim::CallsOf("RunElevated").size(), 1u);
  EXPECT_EQ(sim::machine().elevatedModes, given ? std::vector<int>{1} : std::vector<int>{});
  EXPECT_EQ(StoredMode(), given && !c.storeFails ? 1u : 0u);
  EXPECT_EQ(Switches(), given ? (Steps{"+MI_08", "-MI_00", "-MI_03"}) : Steps{});
  const char* done[] = {"Enabled", "Disabled"};
  if (!given || c.neverEnds) done[0] = done[1] = "Fail";
  EXPECT_EQ(switching, Line(kMi08, done[0]) + Line(kMi00, done[1]) + Line(kMi03, done[1]));
  const bool logsOff = given && !c.storeFails && !c.neverEnds;
  EXPECT_EQ(sim::machine().exitRequests.size(), logsOff ? 1u : 0u);
  EXPECT_EQ(g_prompt.report.find("3 of its 3") != std::string::npos, !given) << g_prompt.report;
  EXPECT_EQ(g_prompt.report.find("needs an administrator's consent") != std::string::npos,
            c.consent == sim::Consent::Declined);
  EXPECT_EQ(g_prompt.report.find("could not start the control panel with an administrator's rights (error 2).") !=
                std::string::npos,
            c.noStart);
  EXPECT_EQ(g_prompt.report.find("could not be stored") != std::string::npos, c.storeFails);
  EXPECT_EQ(g_prompt.report.find("is not known") != std::string::npos, c.neverEnds);
  EXPECT_TRUE(Closed());
}
INSTANTIATE_TEST_SUITE_P(
    DriverControlDialogTest, StandardAccountOk,
    ::testing::Values(ConsentCase{"Given", sim::Consent::Given, true}, ConsentCase{"Declined", sim::Consent::Declined, true},
                      ConsentCase{"On32BitWindows", sim::Consent::Given, false},
                      ConsentCase{"NotStored", sim::Consent::Given, true, true},
                      ConsentCase{"CannotStart", sim::Consent::Given, true, false, true},
                      ConsentCase{"GivenUpAtTheLimit", sim::Consent::Given, true, false, false, true}),
    CaseName<ConsentCase>);

// The elevated run answers through the pipe it names, and a command line it
// refuses (every form is in the protocol's tests), or a pipe that is not
// there, changes nothing.
TEST_F(DriverControlDialogTest, TheElevatedRunActsOnlyOnItsExactCommandLine) {
  const std::string pipe = "\\\\.\\pipe\\norza-" + std::to_string(GetCurrentProcessId() + 1000000000000000ull);
  const std::vector<std::vector<const char*>> refused = {
      {"k.exe", "--switch-elevated", "1", "\\\\.\\pipe\\norza-\\..\\..\\C:\\norza-target.txt"},
      {"k.exe", "--switch-elevated", "1", "\\\\.\\pipe\\norza-00000000000000ff"},  // no such pipe
  };
  StoreMode(0);
  for (const auto& argv : refused) {
    SCOPED_TRACE(argv.back());
    EXPECT_TRUE(elevation::IsElevatedRunStart(static_cast<int>(argv.size()), argv.data()));
    EXPECT_NE(elevation::ElevatedRunMain(static_cast<int>(argv.size()), argv.data()), 0);
    EXPECT_TRUE(sim::CallsOf("SetupDiCallClassInstaller").empty());
    EXPECT_EQ(StoredMode(), 0u);
  }
  const char* plain[] = {"k.exe", "--other"};
  EXPECT_FALSE(elevation::IsElevatedRunStart(2, plain));

  // Given its pipe, it finds the functions, switches and stores by itself.
  HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 65536, 0,
                                   nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const char* argv[] = {"k.exe", "--switch-elevated", "1", pipe.c_str()};
  EXPECT_EQ(elevation::ElevatedRunMain(4, argv), 0);
  std::string answer;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(server, chunk, sizeof chunk, &read, nullptr) && read != 0) answer.append(chunk, read);
  CloseHandle(server);
  EXPECT_EQ(answer, "STORED 1\n" + Done(kMi08) + Done(kMi00) + Done(kMi03) + "END\n");
  EXPECT_EQ(StoredMode(), 1u);
  EXPECT_EQ(Switches(), (Steps{"+MI_08", "-MI_00", "-MI_03"}));
}

// --mode: the switch OK makes, without a dialog or prompt; the exit code
// says what a deployment tool must know, a failure's line and the closing
// line the platform's error.
struct ModeCommandCase {
  const char* name;
  DWORD stored;  // the mode stored before
  void (*machine)();
  uint32_t exitCode;
  const char* said;  // in the output
  DWORD storedAfter;
};
using ModeCommand = DialogCases<ModeCommandCase>;

TEST_P(ModeCommand, SwitchesAndSaysWhatCameOfIt) {
  const ModeCommandCase& c = GetParam();
  StoreMode(c.stored);
  if (c.machine != nullptr) c.machine();
  EXPECT_EQ(Command({"--mode", "asio"}), c.exitCode);
  EXPECT_EQ(StoredMode(), c.storedAfter);
  EXPECT_NE(switching.find(c.said), std::string::npos) << switching;
  EXPECT_EQ(g_prompt.shown + sim::machine().exitRequests.size(), 0u);
}
INSTANTIATE_TEST_SUITE_P(
    DriverControlDialogTest, ModeCommand,
    ::testing::Values(
        // Its WDM functions brought in line, as an opening does.
        ModeCommandCase{"AlreadyInMode", 1, nullptr, 0, "MI_00\\7&1A2B3C&0&0000                 : Disabled\nUSB", 1},
        ModeCommandCase{"Switched", 0, nullptr, 3010, "The Norza is in ASIO mode; restart Windows", 1},
        ModeCommandCase{"AFunctionWaitsForARestart", 1,
                        [] { sim::machine().devices[0].propChange = sim::PropChange::NeedsReboot; }, 3010,
                        ": Reboot\n", 1},
        ModeCommandCase{"AFunctionFails", 0,
                        [] { sim::machine().devices[2].propChange = sim::PropChange::FailClassInstaller; }, 31,
                        "0008                 : Fail 0x0000001F\nUSB", 1},
        ModeCommandCase{"ConsentRefused", 0,
                        [] {
                          StandardAccount(false);
                          sim::machine().consent = sim::Consent::Declined;
                        },
                        1223, "could not be put in ASIO mode: error 0x000004C7.\n", 0},
        ModeCommandCase{"NoRightsAndNoneCanBeAsked", 0,
                        [] {
                          StandardAccount(false);
                          sim::machine().elevatedRunGoes = sim::ElevatedRun::Refused;
                        },
                        5, ": Fail 0x00000005\n", 0},
        ModeCommandCase{"TheFunctionsCannotBeListed", 0, [] { sim::machine().failBuildSet = true; }, 31,
                        "could not be put in ASIO mode: error 0x0000001F.\n", 1}),
    CaseName<ModeCommandCase>);

// --mode and OK: the same stored mode, calls, preferred devices and lines.
TEST_F(DriverControlDialogTest, ModeCommandDoesWhatOkDoes) {
  std::vector<std::string> calls[2], lines[2];
  for (int command = 0; command < 2; ++command) {
    SetUp();
    StoreMode(0);
    regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, "Playback", REG_SZ, regtest::Sz("Quorvin Direct Device"));
    regtest::SetValue(HKEY_CURRENT_USER, kMapperKey, "Record", REG_SZ, regtest::Sz("Line In"));
    sim::machine().waveOut = {"Speakers"};
    sim::machine().waveIn = {"Microphone"};
    if (command == 0) {
      Open();
      Click(IDC_ASIO_MODE);
      sim::machine().calls.clear();
      Press(IDOK);
    } else {
      Command({"--mode", "asio"});
    }
    // Registry virtualization aside, which the dialog turns off as it opens.
    for (const auto& c : sim::machine().calls) {
      if (c.op != "SetTokenInformation") calls[command].push_back(c.op + c.device + std::to_string(c.a + 16 * c.b));
    }
    lines[command].push_back(switching.substr(0, switching.find("The Norza")));  // the command's closing line aside
    EXPECT_EQ(StoredMode(), 1u);
    EXPECT_EQ(regtest::GetValue(HKEY_CURRENT_USER, kMapperKey, "Playback")->data, regtest::Sz("Speakers"));
  }
  EXPECT_EQ(calls[1], calls[0]);
  EXPECT_EQ(lines[1], lines[0]);
}

// A running dialog holds the session's instance: --mode does not switch
// under it, --status answers; anything but a command is refused.
TEST_F(DriverControlDialogTest, ModeCommandRefusesWhileTheDialogRuns) {
  StoreMode(0);
  HANDLE dialogInstance = CreateMutexA(nullptr, FALSE, kInstanceMutex);
  EXPECT_EQ(Command({"--mode", "asio"}), 170u);
  EXPECT_EQ(switching, kDialogIsOpen);
  EXPECT_EQ(Command({"--status"}), 1u);
  CloseHandle(dialogInstance);
  EXPECT_EQ(Command({"--mode", "wdm", "x"}), 87u);
  EXPECT_EQ(switching, kUsage);
  EXPECT_EQ(Command({"/?"}), 0u);
  EXPECT_EQ(switching, kUsage);
  EXPECT_EQ(StoredMode(), 0u);
  EXPECT_TRUE(Switches().empty());
}

// --status changes nothing and asks nobody, on a standard account too.
struct StatusCase {
  const char* name;
  DWORD stored;  // 7: none
  bool present;
  uint32_t exitCode;
  const char* said;
  bool unlisted = false;
};
using StatusCommand = DialogCases<StatusCase>;

TEST_P(StatusCommand, SaysTheModeAndEachFunctionsState) {
  const StatusCase& c = GetParam();
  StandardAccount(false);
  for (auto& d : sim::machine().devices) d.present = c.present;
  sim::machine().failBuildSet = c.unlisted;
  StoreMode(c.stored);
  EXPECT_EQ(Command({"--status"}), c.exitCode);
  // In the order of the stored mode's step: its own functions first.
  const std::string wdm = Line(kMi00, "enabled") + Line(kMi03, "enabled"), asio = Line(kMi08, "disabled");
  EXPECT_EQ(switching, c.said + (!c.present ? "" : c.stored == 1 ? asio + wdm : wdm + asio));
  EXPECT_TRUE(sim::CallsOf("RunElevated").empty() && Switches().empty());
}
INSTANTIATE_TEST_SUITE_P(DriverControlDialogTest, StatusCommand,
                         ::testing::Values(StatusCase{"InLine", 0, true, 0, "Stored mode: WDM\n"},
                                           StatusCase{"OutOfLine", 1, true, 1, "Stored mode: ASIO\n"},
                                           StatusCase{"NoModeStored", 7, true, 1, "Stored mode: none\n"},
                                           StatusCase{"NoFunctionPresent", 0, false, 2, "Stored mode: WDM\n"},
                                           StatusCase{"FunctionsCannotBeListed", 0, false, 1,
                                                      "Stored mode: WDM\nThe Norza's functions could not all be "
                                                      "listed.\n",
                                                      true}),
                         CaseName<StatusCase>);

TEST(InterfacePatternLists, NameTheFunctionsOfEachMode) {
  EXPECT_STREQ(WdmInterfacePatterns[0], "@USB\\VID_7E51&PID_0002&MI_00\\*");
  EXPECT_STREQ(WdmInterfacePatterns[1], "@USB\\VID_7E51&PID_0002&MI_03\\*");
  EXPECT_STREQ(AsioInterfacePatterns[0], "@USB\\VID_7E51&PID_0002&MI_08\\*");
  EXPECT_EQ(WM_SHOW_CONTROL_PANEL, 0x8066u);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) g_resources = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return RUN_ALL_TESTS();
}
