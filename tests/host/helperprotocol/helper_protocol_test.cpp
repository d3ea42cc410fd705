// The line protocol between the 32-bit programs and the 64-bit device helper,
// and the status lines of an answer (which the elevated run's carries too).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "elevation/elevation_protocol.h"
#include "wire/helper_protocol.h"

namespace {

using helper::InstallRequest;
using helper::StateChangeRequest;

std::string StateRequest(uint32_t change, std::vector<const char*> ids) {
  StateChangeRequest request;
  EXPECT_TRUE(request.BeginBatch(change));
  for (const char* id : ids) EXPECT_TRUE(request.AddDevice(id));
  wire::Text text;
  helper::WriteStateChangeRequest(text, request);
  return std::string(text.data(), text.size());
}

std::string WriteInstall(int32_t button, const char* dir, const char* name, const char* id) {
  InstallRequest request;
  request.buttonId = button;
  std::strcpy(request.infDir, dir);
  std::strcpy(request.infName, name);
  std::strcpy(request.hardwareId, id);
  wire::Text text;
  helper::WriteInstallRequest(text, request);
  return std::string(text.data(), text.size());
}

bool Parse(const std::string& text, StateChangeRequest& request) {
  return helper::KindOfRequest(text.data(), text.size()) == helper::RequestKind::StateChange &&
         helper::ParseStateChangeRequest(text.data(), text.size(), request);
}
bool Parse(const std::string& text, InstallRequest& request) {
  return helper::KindOfRequest(text.data(), text.size()) == helper::RequestKind::Install &&
         helper::ParseInstallRequest(text.data(), text.size(), request);
}

// Texts travel whatever bytes they hold (the simulated machine's tests carry
// ordinary ones back and forth).
TEST(HelperProtocolTest, TextsWithAnyBytesArriveAsTheyWereWritten) {
  const std::string longest(199, '\xE9');
  const std::string awkward = "a\nb c\r\x01\xff";  // bytes that would end or split a line
  StateChangeRequest state;
  ASSERT_TRUE(Parse(StateRequest(2, {awkward.c_str(), longest.c_str()}), state));
  ASSERT_EQ(2u, state.deviceCount());
  EXPECT_EQ(awkward + "|" + longest, std::string(state.id(0)) + "|" + state.id(1));
  // A whole step: both batches in one request.
  StateChangeRequest step;
  ASSERT_TRUE(step.BeginBatch(1) && step.AddDevice("E") && step.BeginBatch(2) && step.AddDevice(awkward.c_str()) &&
              step.AddDevice("D"));
  wire::Text text;
  helper::WriteStateChangeRequest(text, step);
  StateChangeRequest both;
  ASSERT_TRUE(Parse(std::string(text.data(), text.size()), both));
  ASSERT_EQ(2u, both.batchCount());
  EXPECT_EQ(2u, both.batch(1).stateChange);
  EXPECT_EQ(awkward, both.id(both.batch(1).first));
  EXPECT_EQ(2u, both.batch(1).count);
  InstallRequest install;
  ASSERT_TRUE(Parse(WriteInstall(-2147483647 - 1, "", awkward.c_str(), longest.c_str()), install));
  EXPECT_EQ(-2147483647 - 1, install.buttonId);
  EXPECT_EQ("|" + awkward + "|" + longest, std::string(install.infDir) + "|" + install.infName + "|" + install.hardwareId);
}

TEST(HelperProtocolTest, RefusesAnythingButExactlyOneRequest) {
  const std::string good = StateRequest(1, {"A"});
  const std::string goodInstall = WriteInstall(1, "C:\\d", "n.inf", "X");
  const std::string cases[] = {
      "",
      good.substr(0, good.size() - 1),  // the last line unended
      good + "ID 41\n",                 // something after the end
      "NORZA-DEVICE-HELPER 2\nSTATE 1\nID 41\nEND\n",
      "NORZA-DEVICE-HELPER 1\nSTATE 3\nID 41\nEND\n",
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nEND\n",              // no device
      "NORZA-DEVICE-HELPER 1\nEND\n",                       // nothing to do
      "NORZA-DEVICE-HELPER 1\nMODE 0\nSTATE 1\nID 41\nEND\n",  // the helper stores no mode
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nSTATE 2\nID 41\nEND\n",  // an empty batch
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nID 41\nSTATE 2\nID 41\nSTATE 1\nID 41\nEND\n",  // three batches
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nID 4\nEND\n",        // half a byte
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nID 4100\nEND\n",     // a NUL inside
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nID 6a\nEND\n",       // not our hex
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nID \nEND\n",         // an empty ID
      "NORZA-DEVICE-HELPER 1\nSTATE 1\nID " + std::string(400, '4') + "\nEND\n",  // 200 characters
      "NORZA-DEVICE-HELPER 1\r\nSTATE 1\r\nID 41\r\nEND\r\n",
      "NORZA-DEVICE-HELPER 1\nINSTALL 2147483648\nDIR \nNAME \nHWID \nEND\n",
      "NORZA-DEVICE-HELPER 1\nINSTALL 01\nDIR \nNAME \nHWID \nEND\n",
      "NORZA-DEVICE-HELPER 1\nINSTALL 1\nNAME \nDIR \nHWID \nEND\n",  // fields out of order
      goodInstall.substr(0, goodInstall.find("HWID")) + "END\n",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    StateChangeRequest state;
    InstallRequest install;
    EXPECT_FALSE(Parse(text, state) || Parse(text, install));
  }
}

TEST(HelperProtocolTest, ReadsAnAnswerOnlyWhenEveryDeviceHasItsLine) {
  const char* const words[] = {"Disabled", "Reboot", "Fail"};
  const ExpectedLine expected[] = {{"USB\\A\\1", words}, {"USB\\B\\2", words}};
  const std::string a = "USB\\A\\1" + std::string(53, ' ');
  const std::string b = "USB\\B\\2" + std::string(53, ' ');
  struct Case {
    std::string answer;
    bool ok;
    std::size_t first = 0, second = 0;
  };
  const Case cases[] = {
      {a + ": Disabled\n" + b + ": Reboot\nEND\n", true, 0, 1},
      {a + ": Fail\n" + b + ": Disabled\nEND\n", true, 2, 0},
      {b + ": Reboot\n" + a + ": Disabled\nEND\n", false},   // out of order
      {a + ": Enabled\n" + b + ": Reboot\nEND\n", false},    // not a word of this change
      {a + ": Disabled\nEND\n", false},                      // a device left out
      {a + ": Disabled\n" + b + ": Reboot\n", false},        // cut short
      {a + ": Disabled\n" + b + ": Reboot\nEND\nEND\n", false},
      {a + ": Disabled\r\n" + b + ": Reboot\r\nEND\r\n", false},
      {"USB\\A\\1: Disabled\n" + b + ": Reboot\nEND\n", false},  // not padded
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    std::size_t chosen[2] = {9, 9};
    EXPECT_EQ(c.ok, helper::ParseStateChangeAnswer(c.answer.data(), c.answer.size(), expected, 2, chosen));
    if (c.ok) {
      EXPECT_EQ(c.first, chosen[0]);
      EXPECT_EQ(c.second, chosen[1]);
    }
    // The elevated run's answer: whether it stored the mode, first (what an
    // answer cut short still tells), then the same lines.
    for (const bool stored : {false, true}) {
      wire::Text start;
      elevation::WriteAnswerStart(start, stored);
      const std::string answer = std::string(start.data(), start.size()) + c.answer;
      bool read = !stored;
      EXPECT_EQ(c.ok, elevation::ParseAnswer(answer.data(), answer.size(), expected, 2, chosen, &read));
      if (c.ok) EXPECT_EQ(stored, read);
      EXPECT_EQ(stored, elevation::AnswerSaysStored(answer.data(), start.size()));
      EXPECT_FALSE(elevation::ParseAnswer(c.answer.data(), c.answer.size(), expected, 2, chosen, &read));
      EXPECT_FALSE(elevation::AnswerSaysStored(c.answer.data(), c.answer.size()));
    }
  }
}

TEST(HelperProtocolTest, AnInstallationAnswerPairsSuccessWithNoError) {
  struct Case {
    const char* answer;
    bool ok;
    bool installed = false;
    uint32_t error = 0;
  };
  const Case cases[] = {
      {"INSTALLED 1 0\nEND\n", true, true, 0},
      {"INSTALLED 1 3010\nEND\n", true, true, 3010},  // done, and Windows needs a restart
      {"INSTALLED 0 3010\nEND\n", false},
      {"INSTALLED 0 3758096907\nEND\n", true, false, 0xE000020B},
      {"INSTALLED 1 5\nEND\n", false},
      {"INSTALLED 0 0\nEND\n", false},
      {"INSTALLED 0 4294967296\nEND\n", false},
      {"INSTALLED 2 0\nEND\n", false},
      {"INSTALLED 1 0\n", false},
      {"INSTALLED 1 0\nEND\nX", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    bool installed = !c.installed;
    uint32_t error = 12345;
    EXPECT_EQ(c.ok, helper::ParseInstallAnswer(c.answer, std::strlen(c.answer), &installed, &error));
    if (c.ok) {
      EXPECT_EQ(c.installed, installed);
      EXPECT_EQ(c.error, error);
    }
  }
  wire::Text written;
  helper::WriteInstallAnswer(written, false, 0xE000020B);
  EXPECT_EQ("INSTALLED 0 3758096907\nEND\n", std::string(written.data(), written.size()));
}

}  // namespace
