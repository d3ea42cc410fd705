#include "switch_report.h"

#include <cstring>

namespace {

constexpr char kSwitchFailedCount[] = "The Norza's driver mode could not be changed: ";
constexpr char kSwitchFailedOf[] = " of its ";
constexpr char kSwitchFailedAdvice[] =
    " functions could not be switched.\n\n"
    "Close the programs that use the Norza and try again, or start the control panel as an "
    "administrator.";
constexpr char kModeNotChanged[] = "The Norza's driver mode could not be changed.";
constexpr char kModeNotStored[] =
    "\n\nThe chosen mode could not be stored in the registry: the next start of the control panel would "
    "switch the Norza back to the mode stored there.";
constexpr char kConsentNeeded[] =
    "\n\nChanging the driver mode needs an administrator's consent: answer Yes when Windows asks.";
constexpr char kNotStarted[] =
    "\n\nWindows could not start the control panel with an administrator's rights (error ";

static_assert(sizeof kSwitchFailedCount + sizeof kSwitchFailedOf + sizeof kSwitchFailedAdvice + 2 * 10 +
                      sizeof kModeNotStored + sizeof kConsentNeeded + sizeof kNotStarted + 10 + 2 <=
                  sizeof AfterSwitch::text,
              "room for the longest report");

// Appends `value` in decimal to the text in `out`.
void AppendNumber(char* out, unsigned long value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out += std::strlen(out);
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
}

}  // namespace

AfterSwitch DecideAfterSwitch(const SwitchOutcome& outcome, bool stored, bool answeredOk) {
  AfterSwitch after;
  if (outcome.failed == 0 && stored) {
    after.logOff = answeredOk;
    return after;
  }
  // A log-off would hide that the mode is not in force: the user learns what to do instead.
  after.report = true;
  char* text = after.text;
  if (outcome.failed > 0) {
    std::strcpy(text, kSwitchFailedCount);
    AppendNumber(text, outcome.failed);
    std::strcat(text, kSwitchFailedOf);
    AppendNumber(text, outcome.selected);
    std::strcat(text, kSwitchFailedAdvice);
  } else {
    std::strcpy(text, kModeNotChanged);
  }
  if (outcome.consentMissing) {
    std::strcat(text, kConsentNeeded);
  } else if (outcome.startError != 0) {
    std::strcat(text, kNotStarted);
    AppendNumber(text, outcome.startError);
    std::strcat(text, ").");
  } else if (!stored) {
    std::strcat(text, kModeNotStored);
  }
  return after;
}
