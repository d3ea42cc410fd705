#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "devicecontrol/device_control.h"
#include "devicecontrol/helper_step.h"
#include "devicecontrol/state_change.h"
#include "helperrun/device_helper_run.h"
#include "sim_machine.h"
#include "installer/include/tambrel.h"
#include "installer/confirm_hook.h"
#include "installer/usb_install.h"

using namespace tambrel;
using namespace devicecontrol;

namespace {

const char kId[] = "USB\\VID_2F1A&PID_0107";

class InstallDevTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }

  static unsigned char Install(const char* dir = "C:\\drivers", const char* name = "norza.inf",
                               const char* hwid = kId, int button = 1) {
    return InstallDev(button, 1, dir, name, hwid);
  }
};

TEST_F(InstallDevTest, RunsCopyUpdateAndMarkingInOrderWithOneLibraryLoad) {
  sim::AddDevice("USB\\VID_2F1A&PID_0107\\1", sim::kMediaClass, {kId}).configFlags = 0;

  EXPECT_EQ(1, Install());

  auto& m = sim::machine();
  ASSERT_EQ(1u, m.copiedInfs.size());
  EXPECT_EQ("C:\\drivers\\norza.inf", m.copiedInfs[0].source);
  EXPECT_FALSE(m.copiedInfs[0].mediaLocationGiven);
  EXPECT_EQ(static_cast<DWORD>(SPOST_PATH), m.copiedInfs[0].mediaType);
  EXPECT_EQ(0u, m.copiedInfs[0].copyStyle);
  EXPECT_FALSE(m.copiedInfs[0].destinationGiven);

  ASSERT_EQ(1u, m.driverUpdates.size());
  EXPECT_EQ(kId, m.driverUpdates[0].hardwareId);
  EXPECT_EQ("C:\\drivers\\norza.inf", m.driverUpdates[0].infPath);
  EXPECT_EQ(1u, m.driverUpdates[0].flags);  // forced
  EXPECT_TRUE(m.driverUpdates[0].rebootOutputGiven);  // told, never asking the user itself

  const std::vector<std::string> expected = {
      "LoadLibraryExA", "GetProcAddress", "SetupCopyOEMInfA", "UpdateDriverForPlugAndPlayDevicesA",
      "SetupDiGetClassDevsA"};
  auto names = sim::CallNames();
  ASSERT_GE(names.size(), expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(names.begin(), names.begin() + expected.size()));
  EXPECT_EQ("FreeLibrary", names.back());
  EXPECT_EQ(1, m.newDevLoads);
  EXPECT_EQ(1, m.newDevFrees);
  EXPECT_EQ(0, m.openSets);
  EXPECT_FALSE(g_buttonArmed);
  // On this process's threads, the calling one first; never the whole desktop.
  ASSERT_FALSE(m.hookThreads.empty());
  EXPECT_EQ(::GetCurrentThreadId(), m.hookThreads[0]);
  EXPECT_EQ(0, std::count(m.hookThreads.begin(), m.hookThreads.end(), 0u));
}

// The thread's last error is the update's, whatever ran after it: a media
// device without flags makes the marking fail a read of its own.
TEST_F(InstallDevTest, ResultIsTheLowByteOfTheUpdateWhateverTheCopyGave) {
  struct Case {
    BOOL update;
    BOOL copy;
    unsigned char expected;
    DWORD error;
    bool restart = false;  // the update says Windows needs a restart
  };
  const DWORD noDevice = static_cast<DWORD>(ERROR_NO_SUCH_DEVINST);
  const Case cases[] = {
      {TRUE, TRUE, 1, 0}, {FALSE, TRUE, 0, noDevice}, {TRUE, FALSE, 1, 0}, {2, TRUE, 1, 0},
      {0x100, TRUE, 0, ERROR_GEN_FAILURE},  // a failure that names no error still says it failed
      {TRUE, TRUE, 1, ERROR_SUCCESS_REBOOT_REQUIRED, true}, {FALSE, TRUE, 0, noDevice, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "update " << c.update << " copy " << c.copy);
    sim::Reset();
    sim::machine().updateResult = c.update;
    sim::machine().updateError = noDevice;
    sim::machine().copyOemInfResult = c.copy;
    sim::machine().updateNeedsRestart = c.restart;
    sim::AddDevice("MEDIA\\NOFLAGS", sim::kMediaClass, {kId});
    ::SetLastError(0xDEAD);
    EXPECT_EQ(c.expected, Install());
    EXPECT_EQ(c.error, ::GetLastError());
    EXPECT_EQ(1u, sim::machine().driverUpdates.size());
    EXPECT_EQ(1u, sim::CallsOf("SetupDiGetClassDevsA").size());  // marking runs whatever the result
  }
}

TEST_F(InstallDevTest, WithoutTheUpdateFunctionFailsButStillCopiesAndMarks) {
  struct Case {
    const char* what;
    bool library;
    bool function;
    int frees;
    DWORD error;
  };
  const Case cases[] = {{"no newdev.dll", false, true, 0, ERROR_MOD_NOT_FOUND},
                        {"no update function", true, false, 1, ERROR_PROC_NOT_FOUND}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    sim::machine().newDevPresent = c.library;
    sim::machine().updateFunctionPresent = c.function;
    sim::AddDevice("MEDIA\\1", sim::kMediaClass, {kId}).configFlags = 0;

    EXPECT_EQ(0, Install());
    EXPECT_EQ(c.error, ::GetLastError());
    ASSERT_EQ(1u, sim::machine().copiedInfs.size());
    EXPECT_EQ("C:\\drivers\\norza.inf", sim::machine().copiedInfs[0].source);
    EXPECT_TRUE(sim::machine().driverUpdates.empty());
    EXPECT_EQ(1u, sim::CallsOf("SetupDiGetClassDevsA").size());
    EXPECT_EQ(0x20u, *sim::FindDevice("MEDIA\\1")->configFlags);
    EXPECT_EQ(c.frees, sim::machine().newDevFrees);
    EXPECT_EQ(c.library ? 1u : 0u, sim::CallsOf("GetProcAddress").size());
  }
}

TEST_F(InstallDevTest, JoinsDirectoryAndNameWithOneBackslashTrimmingNothing) {
  struct Case {
    const char* dir;
    const char* name;
    const char* path;
  };
  const Case cases[] = {
      {"C:\\drivers\\", "norza.inf", "C:\\drivers\\\\norza.inf"},
      {"", "norza.inf", "\\norza.inf"},
      {" C:\\a b ", " n.inf ", " C:\\a b \\ n.inf "},
      {"C:\\drivers", "", "C:\\drivers\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    sim::Reset();
    Install(c.dir, c.name);
    ASSERT_EQ(1u, sim::machine().copiedInfs.size());
    EXPECT_EQ(c.path, sim::machine().copiedInfs[0].source);
    ASSERT_EQ(1u, sim::machine().driverUpdates.size());
    EXPECT_EQ(c.path, sim::machine().driverUpdates[0].infPath);
  }
}

TEST_F(InstallDevTest, MarksOnlyMediaDevicesListingTheWholeIdExactly) {
  struct Expect {
    const char* instance;
    std::optional<DWORD> flags;
  };
  auto& m = sim::machine();
  sim::AddDevice("MEDIA\\ABSENT", sim::kMediaClass, {"USB\\OTHER", kId}).configFlags = 0x4;
  m.devices.back().present = false;
  sim::AddDevice("MEDIA\\PRESENT", sim::kMediaClass, {kId}).configFlags = 0;
  sim::AddDevice("MEDIA\\PREFIX", sim::kMediaClass, {"USB\\VID_2F1A"}).configFlags = 0;
  sim::AddDevice("MEDIA\\LONGER", sim::kMediaClass, {"USB\\VID_2F1A&PID_0107&REV_0100"}).configFlags = 0;
  sim::AddDevice("MEDIA\\CASE", sim::kMediaClass, {"usb\\vid_2f1a&pid_0107"}).configFlags = 0;
  sim::AddDevice("MEDIA\\COMPATIBLE", sim::kMediaClass, {"USB\\OTHER"}, {kId}).configFlags = 0;
  sim::AddDevice("MEDIA\\AFTEREMPTY", sim::kMediaClass, {}).configFlags = 0;
  m.devices.back().hardwareIds = sim::MultiSz({"USB\\OTHER", "", kId});
  sim::AddDevice("MEDIA\\NOTERMINATOR", sim::kMediaClass, {}).configFlags = 0x1;
  m.devices.back().hardwareIds = std::vector<uint8_t>(kId, kId + sizeof kId - 1);
  sim::AddDevice("MEDIA\\NOFLAGS", sim::kMediaClass, {kId});
  sim::AddDevice("MEDIA\\NOIDS", sim::kMediaClass, {}).configFlags = 0;
  sim::AddDevice("USB\\OTHERCLASS", sim::kUsbClass, {kId}).configFlags = 0;

  EXPECT_EQ(1, Install());

  const Expect expected[] = {
      {"MEDIA\\ABSENT", 0x24},     {"MEDIA\\PRESENT", 0x20},     {"MEDIA\\PREFIX", 0},
      {"MEDIA\\LONGER", 0},        {"MEDIA\\CASE", 0},           {"MEDIA\\COMPATIBLE", 0},
      {"MEDIA\\AFTEREMPTY", 0},    {"MEDIA\\NOTERMINATOR", 0x21}, {"MEDIA\\NOFLAGS", std::nullopt},
      {"MEDIA\\NOIDS", 0},         {"USB\\OTHERCLASS", 0},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.instance);
    EXPECT_EQ(e.flags, sim::FindDevice(e.instance)->configFlags);
  }
  std::vector<std::string> written;
  for (const auto& c : sim::CallsOf("SetupDiSetDeviceRegistryPropertyA")) written.push_back(c.device);
  EXPECT_EQ((std::vector<std::string>{"MEDIA\\ABSENT", "MEDIA\\PRESENT", "MEDIA\\NOTERMINATOR"}), written);
  EXPECT_EQ(0, m.openSets);
}

TEST_F(InstallDevTest, EmptyHardwareIdMarksNothing) {
  sim::AddDevice("MEDIA\\1", sim::kMediaClass, {kId}).configFlags = 0;
  sim::AddDevice("MEDIA\\2", sim::kMediaClass, {}).configFlags = 0;
  sim::machine().devices.back().hardwareIds = sim::MultiSz({""});

  Install("C:\\drivers", "norza.inf", "");
  EXPECT_TRUE(sim::CallsOf("SetupDiSetDeviceRegistryPropertyA").empty());
  EXPECT_EQ(0u, *sim::FindDevice("MEDIA\\1")->configFlags);
}

TEST_F(InstallDevTest, MarkingReadsTheIdListAtTheSizeTheMachineReported) {
  sim::AddDevice("MEDIA\\1", sim::kMediaClass, {"USB\\A", "USB\\BB", kId}).configFlags = 0;
  Install();
  std::vector<DWORD> offered;
  for (const auto& c : sim::CallsOf("SetupDiGetDeviceRegistryPropertyA")) {
    if (c.a == SPDRP_HARDWAREID) offered.push_back(c.b);
  }
  const DWORD size = static_cast<DWORD>(sim::MultiSz({"USB\\A", "USB\\BB", kId}).size());
  EXPECT_EQ((std::vector<DWORD>{0, size}), offered);
}

TEST_F(InstallDevTest, UnusableSetLeavesResultToTheUpdate) {
  sim::machine().failBuildSet = true;
  EXPECT_EQ(1, Install());
  EXPECT_TRUE(sim::CallsOf("SetupDiEnumDeviceInfo").empty());
  EXPECT_EQ(1, sim::machine().newDevFrees);
}

TEST_F(InstallDevTest, EachCallLoadsAndReleasesTheLibraryAndItsSet) {
  sim::AddDevice("MEDIA\\1", sim::kMediaClass, {kId}).configFlags = 0;
  for (int i = 1; i <= 3; ++i) {
    Install();
    EXPECT_EQ(i, sim::machine().newDevLoads);
    EXPECT_EQ(i, sim::machine().newDevFrees);
    EXPECT_EQ(0, sim::machine().openSets);
  }
}

TEST_F(InstallDevTest, FailingHookStopsBeforeAnyDeviceSetupCall) {
  sim::machine().hooksRefused = true;
  sim::AddDevice("MEDIA\\1", sim::kMediaClass, {kId}).configFlags = 0;
  EXPECT_EQ(0, Install());
  EXPECT_TRUE(sim::machine().calls.empty());
  EXPECT_FALSE(g_buttonArmed);
}

TEST_F(InstallDevTest, RejectsMissingAndOverlongTextsBeforeDoingAnything) {
  const std::string fits(199, 'a');
  const std::string tooLong(200, 'a');
  struct Case {
    const char* what;
    const char* dir;
    const char* name;
    const char* hwid;
    unsigned char expected;
  };
  const Case cases[] = {
      {"null dir", nullptr, "n.inf", kId, 0},
      {"null name", "C:\\d", nullptr, kId, 0},
      {"null id", "C:\\d", "n.inf", nullptr, 0},
      {"long dir", tooLong.c_str(), "n.inf", kId, 0},
      {"long name", "C:\\d", tooLong.c_str(), kId, 0},
      {"long id", "C:\\d", "n.inf", tooLong.c_str(), 0},
      {"199 everywhere", fits.c_str(), fits.c_str(), fits.c_str(), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    sim::AddDevice("MEDIA\\1", sim::kMediaClass, {kId}).configFlags = 0;
    EXPECT_EQ(c.expected, Install(c.dir, c.name, c.hwid));
    EXPECT_EQ(c.expected == 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS, ::GetLastError());
    if (c.expected == 0) {
      EXPECT_TRUE(sim::machine().calls.empty());
    } else {
      ASSERT_EQ(1u, sim::machine().copiedInfs.size());
      EXPECT_EQ(fits + "\\" + fits, sim::machine().copiedInfs[0].source);
      EXPECT_EQ(fits, sim::machine().driverUpdates.at(0).hardwareId);
    }
  }
}

// A 32-bit process on 64-bit Windows may not update drivers or change device
// states: in this process both are refused (the helper's route is below).
TEST_F(InstallDevTest, On64BitWindowsThisProcessIsRefusedDeviceChanges) {
  const char* const wdm[] = {"@USB\\VID_7E51&PID_0002&MI_00\\*", "@USB\\VID_7E51&PID_0002&MI_03\\*"};
  sim::machine().wow64 = true;
  sim::AddDevice("USB\\VID_7E51&PID_0002&MI_00\\1", sim::kUsbClass, {"USB\\VID_7E51&PID_0002&MI_00"});
  sim::AddDevice("USB\\VID_7E51&PID_0002&MI_03\\1", sim::kUsbClass, {"USB\\VID_7E51&PID_0002&MI_03"});

  DeviceStateChangeContext inProcess = MakeStateChangeContext(DICS_DISABLE);
  sim::StdoutCapture capture;
  CDeviceControl().ForEachMatchingDevice(nullptr, DIGCF_PRESENT, 2, wdm, ApplyStateChange, &inProcess);
  EXPECT_EQ(0u, inProcess.devicesChanged);
  EXPECT_EQ(2u, inProcess.devicesSelected);
  {
    CUsbInstall install;
    EXPECT_FALSE(install.Install("C:\\d", "n.inf", kId));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IN_WOW64), ::GetLastError());
  }
  capture.Finish();
}

// Through the helper both work, one run per batch. Whatever goes wrong with
// the helper is a failure, with a reason, for the installation and for every
// device it was to change; never a success that did not happen.
TEST_F(InstallDevTest, EachWayTheHelperEndsGivesItsResult) {
  using sim::HelperRun;
  struct Case {
    const char* what;
    HelperRun run;
    BOOL update;
    unsigned char result;
    DWORD error;
    const char* word;
    bool restart = false;
  };
  const Case cases[] = {
      {"answers", HelperRun::Answers, TRUE, 1, ERROR_SUCCESS, "Disabled"},
      {"answers that a restart is needed", HelperRun::Answers, TRUE, 1, ERROR_SUCCESS_REBOOT_REQUIRED, "Disabled", true},
      {"answers a failed update", HelperRun::Answers, FALSE, 0, static_cast<DWORD>(ERROR_NO_SUCH_DEVINST),
       "Disabled"},
      {"crashes after its first line", HelperRun::Crashes, TRUE, 0, ERROR_PROCESS_ABORTED, "Fail"},
      {"answers garbage", HelperRun::AnswersGarbage, TRUE, 0, ERROR_INVALID_DATA, "Fail"},
      {"exits with 259", HelperRun::ExitsStillActive, TRUE, 0, ERROR_PROCESS_ABORTED, "Fail"},
      {"cannot be written", HelperRun::CannotWrite, TRUE, 0, ERROR_DISK_FULL, "Fail"},
      {"cannot start", HelperRun::CannotStart, TRUE, 0, ERROR_ACCESS_DENIED, "Fail"},
      {"never ends", HelperRun::NeverEnds, TRUE, 0, ERROR_TIMEOUT, "Fail"},
  };
  const char* const wdm[] = {"@USB\\VID_7E51&PID_0002&MI_00\\*", "@USB\\VID_7E51&PID_0002&MI_03\\*"};
  const std::string ids[] = {"USB\\VID_7E51&PID_0002&MI_00\\1", "USB\\VID_7E51&PID_0002&MI_03\\1"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    auto& m = sim::machine();
    m.wow64 = true;
    m.helperRun = c.run;
    m.updateResult = c.update;
    m.updateError = ERROR_NO_SUCH_DEVINST;
    m.updateNeedsRestart = c.restart;
    for (const auto& id : ids) sim::AddDevice(id, sim::kUsbClass, {id.substr(0, id.size() - 2)});

    ::SetLastError(0xDEAD);
    EXPECT_EQ(c.result, Install());
    EXPECT_EQ(c.error, ::GetLastError());

    sim::StdoutCapture capture;
    StateChangeBatch disable[] = {{2, wdm, DICS_DISABLE, {}, 0}};
    ChangeThroughHelper(disable, 1);
    std::string lines;
    for (const auto& id : ids) lines += id + std::string(60 - id.size(), ' ') + ": " + c.word + "\n";
    EXPECT_EQ(lines, capture.Finish());
    EXPECT_EQ(2u, m.helperRequests.size()) << "one run for the installation, one for the batch";
    const auto runs = sim::CallsOf("RunDeviceHelper");  // each with its limit
    EXPECT_EQ(helperrun::kInstallHelperWait, runs.at(0).a);
    EXPECT_EQ(helperrun::kDeviceStepHelperWait, runs.at(1).a);
    EXPECT_EQ(0, m.openSets);
  }
}

// Without an administrator's rights the update is refused, and that refusal
// is the caller's answer: the library never asks for consent itself, in this
// process or through the helper on 64-bit Windows.
TEST_F(InstallDevTest, WithoutTheRightsTheRefusalComesBackAndNothingAsksForConsent) {
  for (bool wow64 : {false, true}) {
    SCOPED_TRACE(wow64 ? "64-bit Windows" : "32-bit Windows");
    sim::Reset();
    sim::machine().elevated = false;
    sim::machine().wow64 = wow64;
    EXPECT_EQ(0, Install());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    EXPECT_TRUE(sim::CallsOf("RunElevated").empty());
    EXPECT_EQ(sim::machine().elevatedRuns, 0);
  }
}

TEST(CloseZDLWindowTest, IsTrueAndTouchesNothing) {
  sim::Reset();
  EXPECT_EQ(1, CloseZDLWindow());
  EXPECT_TRUE(sim::machine().calls.empty());
}

}  // namespace
