// Enabling and disabling on the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "wire/helper_protocol.h"
#include "devicehelper/helper_requests.h"
#include "norza_machine.h"

using namespace testmachine;
using namespace devicecontrol;

namespace {

std::string Line(const std::string& id, const std::string& word) {
  return id + std::string(id.size() < 60 ? 60 - id.size() : 0, ' ') + ": " + word + "\n";
}

struct Request {
  std::string op;
  std::string device;
  DWORD state;
  DWORD scope;
  bool operator==(const Request& o) const {
    return op == o.op && device == o.device && state == o.state && scope == o.scope;
  }
};

std::ostream& operator<<(std::ostream& os, const Request& r) {
  return os << r.op << "(" << r.device << ", " << r.state << ", " << r.scope << ")";
}

// A request for MI_08, the ASIO function: its parameters set, or its class
// installer called.
Request Set(DWORD state, DWORD scope) { return {"SetupDiSetClassInstallParamsA", kMi08, state, scope}; }
Request Call(DWORD state, DWORD scope) { return {"SetupDiCallClassInstaller", kMi08, state, scope}; }

// The property-change requests in the log, in order.
std::vector<Request> Requests() {
  std::vector<Request> out;
  for (const auto& c : sim::machine().calls) {
    if (c.op == "SetupDiSetClassInstallParamsA" || c.op == "SetupDiCallClassInstaller") {
      out.push_back({c.op, c.device, c.a, c.b});
    }
  }
  return out;
}

class DeviceStateChange : public ::testing::Test {
 protected:
  void SetUp() override { Describe(); }
  void TearDown() override { EXPECT_EQ(sim::machine().openSets, 0) << "a device set was left open"; }

  int32_t Enable(std::vector<const char*> patterns) { return Change(true, patterns); }
  int32_t Disable(std::vector<const char*> patterns, DeviceStateChangeContext* outcome = nullptr) {
    return Change(false, patterns, outcome);
  }
  int32_t Change(bool enable, const std::vector<const char*>& patterns, DeviceStateChangeContext* outcome = nullptr) {
    sim::StdoutCapture capture;
    const auto count = static_cast<int32_t>(patterns.size());
    int32_t r = enable ? CDeviceControl().EnableDevices(count, patterns.data(), outcome)
                       : CDeviceControl().DisableDevices(count, patterns.data(), outcome);
    output = capture.Finish();
    return r;
  }

  std::string output;
};

TEST_F(DeviceStateChange, EnablingAsksGlobalScopeFirstThenConfigSpecific) {
  EXPECT_EQ(Enable({kAsioPatterns[0]}), CDeviceControl::Success);
  EXPECT_EQ(Requests(), (std::vector<Request>{Set(DICS_ENABLE, DICS_FLAG_GLOBAL), Call(DICS_ENABLE, DICS_FLAG_GLOBAL),
                                              Set(DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC),
                                              Call(DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC)}));
  // The restart flags are read after the change.
  auto names = sim::CallNames();
  auto lastCall = std::find(names.rbegin(), names.rend(), "SetupDiCallClassInstaller");
  auto params = std::find(names.rbegin(), names.rend(), "SetupDiGetDeviceInstallParamsA");
  EXPECT_LT(params, lastCall);
  EXPECT_EQ(output, Line(kMi08, "Enabled"));
}

TEST_F(DeviceStateChange, GlobalStepRunsTheClassInstallerWhateverAttachingGave) {
  sim::machine().devices[4].propChange = sim::PropChange::FailAttach;  // MI_08
  EXPECT_EQ(Enable({kAsioPatterns[0]}), CDeviceControl::Success);
  EXPECT_EQ(Requests(), (std::vector<Request>{Set(DICS_ENABLE, DICS_FLAG_GLOBAL),
                                              Call(DIF_PROPERTYCHANGE, 0),  // nothing attached
                                              Set(DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC)}));
  EXPECT_EQ(output, Line(kMi08, "Fail"));
}

TEST_F(DeviceStateChange, DisablingAsksOnlyConfigSpecific) {
  EXPECT_EQ(Disable({kAsioPatterns[0]}), CDeviceControl::Success);
  EXPECT_EQ(Requests(), (std::vector<Request>{Set(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC),
                                              Call(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC)}));
  const sim::Device* d = sim::FindDevice(kMi08);
  EXPECT_TRUE(d->enabledGlobal);
  EXPECT_FALSE(d->enabledConfig);
  EXPECT_EQ(output, Line(kMi08, "Disabled"));
}

TEST_F(DeviceStateChange, EnablingClearsAGlobalDisable) {
  auto& d = sim::machine().devices[4];  // MI_08
  d.enabledGlobal = d.enabledConfig = false;
  Enable({kAsioPatterns[0]});
  EXPECT_TRUE(sim::FindDevice(kMi08)->enabledGlobal);
  EXPECT_TRUE(sim::FindDevice(kMi08)->enabledConfig);
}

TEST_F(DeviceStateChange, OneLinePerDeviceWithTheWordOfItsOutcome) {
  sim::Reset();
  const char* ids[] = {"ROOT\\A\\0", "ROOT\\B\\0", "ROOT\\C\\0", "ROOT\\D\\0", "ROOT\\E\\0"};
  sim::PropChange answers[] = {sim::PropChange::Done, sim::PropChange::NeedsRestart, sim::PropChange::NeedsReboot,
                               sim::PropChange::FailAttach, sim::PropChange::FailClassInstaller};
  for (int i = 0; i < 5; ++i) sim::AddDevice(ids[i], sim::kSystemClass, {"ROOT\\X"}).propChange = answers[i];

  const std::string others =
      Line(ids[1], "Reboot") + Line(ids[2], "Reboot") + Line(ids[3], "Fail") + Line(ids[4], "Fail");
  EXPECT_EQ(Enable({"ROOT\\X"}), CDeviceControl::Success);
  EXPECT_EQ(output, Line(ids[0], "Enabled") + others);

  for (auto& d : sim::machine().devices) d.enabledConfig = true;
  EXPECT_EQ(Disable({"ROOT\\X"}), CDeviceControl::Success);
  EXPECT_EQ(output, Line(ids[0], "Disabled") + others);
  // Failed changes leave the device as it was.
  EXPECT_FALSE(sim::FindDevice(ids[0])->enabledConfig);
  EXPECT_TRUE(sim::FindDevice(ids[3])->enabledConfig);
  EXPECT_TRUE(sim::FindDevice(ids[4])->enabledConfig);
}

TEST_F(DeviceStateChange, OutcomeCountsSelectedAndChangedDevicesAndRestarts) {
  sim::Reset();
  sim::AddDevice("ROOT\\A\\0", sim::kSystemClass, {"ROOT\\X"});
  sim::AddDevice("ROOT\\B\\0", sim::kSystemClass, {"ROOT\\X"}).propChange = sim::PropChange::NeedsRestart;
  sim::AddDevice("ROOT\\C\\0", sim::kSystemClass, {"ROOT\\X"}).propChange = sim::PropChange::FailClassInstaller;
  DeviceStateChangeContext outcome{};
  EXPECT_EQ(Disable({"ROOT\\X"}, &outcome), CDeviceControl::Success);
  EXPECT_EQ(outcome.devicesSelected, 3u);
  EXPECT_EQ(outcome.devicesChanged, 2u);
  EXPECT_EQ(outcome.restartRequired, 1u);
  EXPECT_EQ(outcome.firstError, static_cast<uint32_t>(ERROR_GEN_FAILURE));
}

TEST_F(DeviceStateChange, AbsentDevicesAreUntouchedUnlessNamedLiterally) {
  sim::machine().devices[5].enabledConfig = false;  // the unplugged Norza
  Enable({kWdmPatterns[0]});
  EXPECT_EQ(output, Line(kMi00, "Enabled"));
  EXPECT_FALSE(sim::FindDevice(kUnplugged)->enabledConfig);

  Enable({"@USB\\VID_7E51&PID_0002&MI_00\\7&99&0&0000"});
  EXPECT_EQ(output, Line(kUnplugged, "Enabled"));
  EXPECT_TRUE(sim::FindDevice(kUnplugged)->enabledConfig);
}

TEST_F(DeviceStateChange, NoPatternsPrintsNothing) {
  EXPECT_EQ(Enable({}), CDeviceControl::NoPatterns);
  EXPECT_EQ(Disable({}), CDeviceControl::NoPatterns);
  EXPECT_EQ(output, "");
  EXPECT_EQ(sim::machine().setsBuilt, 0);
}

TEST_F(DeviceStateChange, SwitchingBetweenTheInterfaceModes) {
  auto enabled = [] {
    std::vector<std::string> on;
    for (const auto& d : sim::machine().devices) {
      if (d.enabledConfig && d.enabledGlobal) on.push_back(d.instanceId);
    }
    return on;
  };
  const std::vector<std::string> wdmOn = {kMi00, kHdAudio, kMi03, kKeyboard, kUnplugged},
                                 asioOn = {kHdAudio, kKeyboard, kMi08, kUnplugged};
  // WDM: functions 0 and 3 on, 8 off; ASIO: 8 on, 0 and 3 off; and back.
  CDeviceControl control;
  sim::StdoutCapture capture;
  for (bool wdm : {true, false, true}) {
    control.EnableDevices(wdm ? 2 : 1, wdm ? kWdmPatterns : kAsioPatterns);
    control.DisableDevices(wdm ? 1 : 2, wdm ? kAsioPatterns : kWdmPatterns);
    EXPECT_EQ(enabled(), wdm ? wdmOn : asioOn);
  }
  const std::string toWdm = Line(kMi00, "Enabled") + Line(kMi03, "Enabled") + Line(kMi08, "Disabled");
  EXPECT_EQ(capture.Finish(),
            toWdm + Line(kMi08, "Enabled") + Line(kMi00, "Disabled") + Line(kMi03, "Disabled") + toWdm);
}

// A function the platform reports already enabled, or disabled, is left as it
// is and still gets its line; one whose state it cannot tell is changed.
TEST_F(DeviceStateChange, ADeviceAlreadyInTheStateAskedForIsNotChangedAgain) {
  auto& devices = sim::machine().devices;
  devices[0].statusReadable = devices[2].statusReadable = devices[4].statusReadable = true;
  devices[4].enabledConfig = false;  // MI_08 disabled, and MI_03 in the other scope
  devices[2].enabledGlobal = false;
  Enable({kWdmPatterns[0], kWdmPatterns[1], kAsioPatterns[0]});
  EXPECT_EQ(output, Line(kMi00, "Enabled") + Line(kMi03, "Enabled") + Line(kMi08, "Enabled"));
  EXPECT_EQ(sim::CallsOf("SetupDiCallClassInstaller").size(), 4u) << "MI_03 and MI_08, both scopes";
  sim::machine().calls.clear();
  Disable({kAsioPatterns[0]});
  Disable({kAsioPatterns[0]});
  EXPECT_EQ(output, Line(kMi08, "Disabled"));
  EXPECT_EQ(sim::CallsOf("SetupDiCallClassInstaller").size(), 1u);
}

TEST_F(DeviceStateChange, AnyPatternListRunsToCompletion) {
  struct Case {
    std::vector<const char*> patterns;
    size_t lines;  // devices selected: one line each
  } cases[] = {
      {{"=USB"}, 3}, {{"=NoSuchClass", "x"}, 0}, {{"*"}, 5}, {{""}, 0}, {{"", "", ""}, 0},
      {{"'"}, 0}, {{"@"}, 0}, {{"@'"}, 0}, {{"'*"}, 0}, {{"=", "*"}, 5}, {{"**", "@**"}, 5},
      {{"\xff\xfe*\x81"}, 0}, {{"=USB", "*", "@*"}, 3},
  };
  for (const auto& c : cases) {
    Describe();
    Disable(c.patterns);
    EXPECT_EQ(static_cast<size_t>(std::count(output.begin(), output.end(), '\n')), c.lines) << c.patterns[0];
    EXPECT_EQ(sim::CallsOf("SetupDiGetDeviceInstallParamsA").size(), c.lines) << c.patterns[0];
    EXPECT_EQ(sim::machine().openSets, 0) << c.patterns[0];
  }
}

}  // namespace

// A step that enables one mode's functions and disables the other's builds
// one set, of the USB enumerator's devices alone, reads each device's ID
// once, and still enables first.
TEST_F(DeviceStateChange, OneWalkPerStep) {
  StateChangeBatch batches[] = {{1, kAsioPatterns, DICS_ENABLE, {}, 0}, {2, kWdmPatterns, DICS_DISABLE, {}, 0}};
  sim::StdoutCapture capture;
  EXPECT_TRUE(ChangeInProcess(batches, 2, INFINITE));
  EXPECT_EQ(capture.Finish(), Line(kMi08, "Enabled") + Line(kMi00, "Disabled") + Line(kMi03, "Disabled"));
  EXPECT_EQ(sim::machine().setsBuilt, 1);
  EXPECT_EQ(sim::CallsOf("SetupDiGetClassDevsExA").at(0).device, "USB");
  std::vector<std::string> reads;
  for (const auto& c : sim::CallsOf("CM_Get_Device_ID_ExA")) reads.push_back(c.device);
  EXPECT_EQ(reads, (std::vector<std::string>{kMi00, kMi03, kMi08}));

  // Lists of literal IDs each select their own devices, never the other's.
  const std::string on = std::string("@") + kMi00, off = std::string("@") + kMi08;
  const char* const enable[] = {on.c_str()};
  const char* const disable[] = {off.c_str()};
  StateChangeBatch literal[] = {{1, enable, DICS_ENABLE, {}, 0}, {1, disable, DICS_DISABLE, {}, 0}};
  sim::StdoutCapture again;
  EXPECT_TRUE(ChangeInProcess(literal, 2, INFINITE));
  EXPECT_EQ(again.Finish(), Line(kMi00, "Enabled") + Line(kMi08, "Disabled"));
}

// A class installer that never returns does not hold the step for ever: at
// its limit the step is given up with what it reported by then, and the
// lines its thread still finishes are never printed.
TEST_F(DeviceStateChange, AStepInThisProcessIsGivenUpAtItsLimit) {
  auto& m = sim::machine();
  m.devices[2].propChange = sim::PropChange::Hangs;  // MI_03
  m.releaseHung = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  m.hungReturned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  StateChangeBatch batches[] = {{2, kWdmPatterns, DICS_ENABLE, {}, 0}, {1, kAsioPatterns, DICS_DISABLE, {}, 0}};
  sim::StdoutCapture capture;
  EXPECT_FALSE(ChangeInProcess(batches, 2, 200));
  EXPECT_EQ(0u, batches[0].outcome.devicesSelected + batches[1].outcome.devicesSelected) << "not known";
  SetEvent(m.releaseHung);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m.hungReturned, 5000));
  Sleep(200);  // for the given-up thread to try its last lines
  EXPECT_EQ(capture.Finish(), Line(kMi00, "Enabled"));
  StateChangeBatch again[] = {{1, kAsioPatterns, DICS_ENABLE, {}, 0}};
  m.devices[2].propChange = sim::PropChange::Done;
  EXPECT_TRUE(ChangeInProcess(again, 1, INFINITE));
  EXPECT_EQ(1u, again[0].outcome.devicesChanged);
  CloseHandle(m.releaseHung);
  CloseHandle(m.hungReturned);
  m.releaseHung = m.hungReturned = nullptr;
}
