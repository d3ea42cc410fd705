// What the control panel tells its elevated run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "elevation/elevation_protocol.h"

namespace {

// The elevated run acts on nothing but the exact form the panel writes.
TEST(ElevationProtocolTest, TheCommandLineIsExactlyTheModeAndAnAnswerPipe) {
  const std::string pipe = "\\\\.\\pipe\\norza-0123456789abcdef";
  wire::Text written;
  elevation::WriteCommandLine(written, elevation::Command{drivermode::ASIO, pipe.c_str()});
  EXPECT_EQ("--switch-elevated 1 " + pipe, std::string(written.data(), written.size()));
  struct Case {
    std::vector<const char*> argv;
    int32_t mode;  // -1: refused
  };
  const std::string longer = pipe + "0", upper = "\\\\.\\pipe\\norza-0123456789ABCDEF";
  const std::string climbing = "\\\\.\\pipe\\norza-\\..\\..\\C:\\x.txt";
  const std::string other = "\\\\.\\pipe\\other-0123456789abcdef";
  const Case cases[] = {
      {{"k.exe", "--switch-elevated", "0", pipe.c_str()}, 0},
      {{"k.exe", "--switch-elevated", "1", pipe.c_str()}, 1},
      {{"k.exe", "--switch-elevated", "2", pipe.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "01", pipe.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "1", pipe.c_str(), "x"}, -1},
      {{"k.exe", "--switch-elevated", "1"}, -1},
      {{"k.exe", "--Switch-Elevated", "1", pipe.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "1", climbing.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "1", longer.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "1", upper.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "1", other.c_str()}, -1},
      {{"k.exe", "--switch-elevated", "1", "C:\\x.txt"}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv.back());
    elevation::Command read;
    const bool ok = elevation::ParseCommandLine(static_cast<int>(c.argv.size()), c.argv.data(), &read);
    EXPECT_EQ(c.mode >= 0, ok);
    if (ok) {
      EXPECT_EQ(c.mode, static_cast<int32_t>(read.mode));
      EXPECT_EQ(pipe, read.answerPipe);
    }
  }
}

// Its name is unguessable only if all 64 bits make it.
TEST(ElevationProtocolTest, TheAnswerPipesNameCarriesAllSixtyFourBits) {
  char name[elevation::kAnswerPipeNameSize];
  elevation::MakeAnswerPipeName(0xfedcba9876543210ull, name);
  EXPECT_STREQ("\\\\.\\pipe\\norza-fedcba9876543210", name);
}

}  // namespace
