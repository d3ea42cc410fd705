// The line protocol between the 32-bit programs and the 64-bit device helper,
// and the status lines of an answer (which the elevated run's carries too).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "elevation/elevation_protocol.h"
#include "wire/helper_protocol.h"

namespace {

using wire::InstallRequest;
using wire::StateChangeRequest;

// A request of one batch for each state change given, of the IDs given.
std::string StateRequest(std::vector<std::pair<uint32_t, std::vector<const char*>>> batches) {
  StateChangeRequest request;
  for (const auto& [change, ids] : batches) {
    EXPECT_TRUE(request.BeginBatch(change));
    for (const char* id : ids) EXPECT_TRUE(request.AddDevice(id));
  }
  wire::Text text;
  wire::WriteStateChangeRequest(text, request);
  return std::string(text.data(), text.size());
}

std::string WriteInstall(int32_t button, const char* dir, const char* name, const char* id) {
  InstallRequest request;
  request.buttonId = button;
  std::strcpy(request.infDir, dir);
  std::strcpy(request.infName, name);
  std::strcpy(request.hardwareId, id);
  wire::Text text;
  wire::WriteInstallRequest(text, request);
  return std::string(text.data(), text.size());
}

bool Parse(const std::string& text, StateChangeRequest& request) {
  return wire::KindOfRequest(text.data(), text.size()) == wire::RequestKind::StateChange &&
         wire::ParseStateChangeRequest(text.data(), text.size(), request);
}
bool Parse(const std::string& text, InstallRequest& request) {
  return wire::KindOfRequest(text.data(), text.size()) == wire::RequestKind::Install &&
         wire::ParseInstallRequest(text.data(), text.size(), request);
}

// Texts travel whatever bytes they hold (the simulated machine's tests carry
// ordinary ones back and forth).
TEST(HelperProtocolTest, TextsWithAnyBytesArriveAsTheyWereWritten) {
  const std::string longest(199, '\xE9');
  const std::string awkward = "a\nb c\r\x01\xff";  // bytes that would end or split a line
  StateChangeRequest state;
  ASSERT_TRUE(Parse(StateRequest({{2, {awkward.c_str(), longest.c_str()}}}), state));
  ASSERT_EQ(2u, state.deviceCount());
  EXPECT_EQ(awkward + "|" + longest, std::string(state.id(0)) + "|" + state.id(1));
  // A whole step: both batches in one request.
  StateChangeRequest both;
  ASSERT_TRUE(Parse(StateRequest({{1, {"E"}}, {2, {awkward.c_str(), "D"}}}), both));
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
  const std::string good = StateRequest({{1, {"A"}}});
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

TEST(HelperProtocolTest, NumbersAreWrittenInDecimalWithoutLeadingZeros) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"}, {7, "7"}, {10, "10"}, {-1, "-1"}, {4294967295, "4294967295"}, {-2147483648LL, "-2147483648"},
      {INT64_MAX, "9223372036854775807"}, {INT64_MIN, "-9223372036854775808"}};
  for (const auto& [value, text] : cases) {
    wire::Text written;
    written.AppendNumber(value);
    EXPECT_EQ(text, std::string(written.data(), written.size()));
  }
}

// An outcome travels as DEVICE <hex id> <status> <error>, in request order.
TEST(HelperProtocolTest, ReadsAnAnswerOnlyWhenEveryDeviceHasItsOutcome) {
  const std::string a = "DEVICE 5553425C415C31 ", b = "DEVICE 5553425C425C32 ";
  struct Case {
    std::string answer;
    bool ok;
    wire::DeviceStatus first = wire::DeviceStatus::Done, second = wire::DeviceStatus::Done;
    uint32_t firstError = 0;
  };
  using S = wire::DeviceStatus;
  const Case cases[] = {
      {a + "1 0\n" + b + "2 0\nEND\n", true, S::Done, S::Restart},
      {a + "0 5\n" + b + "1 0\nEND\n", true, S::Failed, S::Done, 5},
      {a + "0 4294967295\n" + b + "0 0\nEND\n", true, S::Failed, S::Failed, 0xFFFFFFFF},
      {b + "2 0\n" + a + "1 0\nEND\n", false},      // out of order
      {a + "1 5\n" + b + "1 0\nEND\n", false},      // done, with an error
      {a + "3 0\n" + b + "1 0\nEND\n", false},      // no such status
      {a + "0 4294967296\n" + b + "1 0\nEND\n", false},
      {a + "1\n" + b + "1 0\nEND\n", false},
      {a + "1 0\nEND\n", false},                     // a device left out
      {a + "1 0\n" + b + "2 0\n", false},            // cut short
      {a + "1 0\n" + b + "2 0\nEND\nEND\n", false},
      {a + "1 0\r\n" + b + "2 0\r\nEND\r\n", false},
      {"DEVICE 5553425c415c31 1 0\n" + b + "2 0\nEND\n", false},  // not as written
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    wire::DeviceOutcome read[2];
    std::strcpy(read[0].id, "USB\\A\\1");
    std::strcpy(read[1].id, "USB\\B\\2");
    wire::DeviceOutcome* const slots[] = {&read[0], &read[1]};
    EXPECT_EQ(c.ok, wire::ParseStateChangeAnswer(c.answer.data(), c.answer.size(), slots, 2));
    if (c.ok) {
      EXPECT_EQ(c.first, read[0].status);
      EXPECT_EQ(c.second, read[1].status);
      EXPECT_EQ(c.firstError, read[0].error);
      wire::Text written;
      for (const auto& outcome : read) wire::WriteOutcome(written, outcome);
      written.AppendEnd();
      EXPECT_EQ(c.answer, std::string(written.data(), written.size()));
    }
    // The elevated run's answer: whether it stored the mode, first (what an
    // answer cut short still tells), then the same lines.
    for (const bool stored : {false, true}) {
      wire::Text start;
      elevation::WriteAnswerStart(start, stored);
      const std::string answer = std::string(start.data(), start.size()) + c.answer;
      bool said = !stored;
      EXPECT_EQ(c.ok, elevation::ParseAnswer(answer.data(), answer.size(), slots, 2, &said));
      if (c.ok) EXPECT_EQ(stored, said);
      EXPECT_EQ(stored, elevation::AnswerSaysStored(answer.data(), start.size()));
      EXPECT_FALSE(elevation::ParseAnswer(c.answer.data(), c.answer.size(), slots, 2, &said));
      EXPECT_FALSE(elevation::AnswerSaysStored(c.answer.data(), c.answer.size()));
    }
  }
}

// The status line of an outcome; its error only where a reader asked for it.
TEST(HelperProtocolTest, AnOutcomesLineAddsTheErrorOnlyWhenAsked) {
  struct Case {
    wire::DeviceStatus status;
    uint32_t error;
    bool withError;
    const char* word;
  };
  const Case cases[] = {
      {wire::DeviceStatus::Done, 0, true, "Disabled"},
      {wire::DeviceStatus::Restart, 0, true, "Reboot"},
      {wire::DeviceStatus::Failed, 5, false, "Fail"},
      {wire::DeviceStatus::Failed, 5, true, "Fail 0x00000005"},
      {wire::DeviceStatus::Failed, 0xE000020B, true, "Fail 0xE000020B"},
      {wire::DeviceStatus::Failed, 0, true, "Fail"},
  };
  for (const auto& c : cases) {
    wire::DeviceOutcome outcome;
    std::strcpy(outcome.id, "USB\\A\\1");
    outcome.status = c.status;
    outcome.error = c.error;
    char line[wire::kStatusLineSize];
    wire::FormatOutcomeLine(line, sizeof line, outcome, wire::kDisable, c.withError);
    EXPECT_EQ("USB\\A\\1" + std::string(53, ' ') + ": " + c.word + "\n", line);
  }
  wire::DeviceOutcome unread;
  char line[wire::kStatusLineSize];
  wire::FormatOutcomeLine(line, sizeof line, unread, wire::kEnable, false);
  EXPECT_EQ("?" + std::string(59, ' ') + ": Fail\n", line);
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
    EXPECT_EQ(c.ok, wire::ParseInstallAnswer(c.answer, std::strlen(c.answer), &installed, &error));
    if (c.ok) {
      EXPECT_EQ(c.installed, installed);
      EXPECT_EQ(c.error, error);
    }
  }
  wire::Text written;
  wire::WriteInstallAnswer(written, false, 0xE000020B);
  EXPECT_EQ("INSTALLED 0 3758096907\nEND\n", std::string(written.data(), written.size()));
}

}  // namespace
