// What OK leads to after a changed mode's switch, without any window.
#include <gtest/gtest.h>

#include <string>

#include "controlpanel/switch_report.h"

namespace {

using controlpanel::AfterSwitch;
using controlpanel::DecideAfterSwitch;
using drivermode::SwitchOutcome;

TEST(SwitchReportTest, LogsOffOnlyWhenTheModeIsInForceAndStored) {
  struct Case {
    const char* what;
    SwitchOutcome outcome;
    bool stored;
    bool ok;
    bool logOff;
    const char* text;  // "": no report
  };
  const Case cases[] = {
      {"switched and stored, OK", {3, 0}, true, true, true, ""},
      {"switched and stored, Cancel", {3, 0}, true, false, false, ""},
      {"a function failed", {3, 1}, true, true, false, "1 of its 3 functions could not be switched."},
      {"not stored", {3, 0}, false, true, false, "could not be changed.\n\nThe chosen mode could not be stored"},
      {"consent refused", {3, 3, 1223, false, false, true}, false, true, false, "3 of its 3 functions could not be switched."},
      {"could not start", {3, 3, 1223, false, false, false, 1223}, false, true, false,
       "administrator's rights (error 1223)."},
      // Cut short at a limit: stored, but whether the functions follow is not known.
      {"cut short", {3, 3, 0, false, true, false, 0, true}, true, true, false, "not known.\n\nStart the control panel again"},
      {"cut short, still going", {3, 3, 0, false, true, false, 0, true, true}, true, true, false, "may still be going on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const AfterSwitch after = DecideAfterSwitch(c.outcome, c.stored, c.ok);
    EXPECT_EQ(c.logOff, after.logOff);
    EXPECT_EQ(*c.text != '\0', after.report);
    EXPECT_NE(std::string(after.text).find(c.text), std::string::npos) << after.text;
    // Only a refusal asks for consent; a failure to start names its error instead.
    EXPECT_EQ(c.outcome.consentMissing, std::string(after.text).find("consent") != std::string::npos);
  }
}

}  // namespace
