#include "controlpanel/switch_report.h"

#include <cstring>

#include "wire/text.h"

namespace controlpanel {

namespace {

constexpr char kSwitchFailedCount[] = "The Norza's driver mode could not be changed: ";
constexpr char kSwitchFailedOf[] = " of its ";
constexpr char kSwitchFailedAdvice[] =
    " functions could not be switched.\n\n"
    "Close the programs that use the Norza and try again, or start the control panel as an "
    "administrator.";
constexpr char kModeNotChanged[] = "The Norza's driver mode could not be changed.";
constexpr char kSwitchUnknown[] =
    "Switching the Norza's functions did not finish in the time allowed: whether they follow the chosen mode is "
    "not known.\n\nStart the control panel again: it brings them in line with the mode stored.";
constexpr char kStillRunning[] =
    " The switch could not be stopped and may still be going on: wait a minute before you do.";
constexpr char kModeNotStored[] =
    "\n\nThe chosen mode could not be stored in the registry: the next start of the control panel would "
    "switch the Norza back to the mode stored there.";
constexpr char kConsentNeeded[] =
    "\n\nChanging the driver mode needs an administrator's consent: answer Yes when Windows asks.";
constexpr char kNotStarted[] =
    "\n\nWindows could not start the control panel with an administrator's rights (error ";

static_assert(sizeof kSwitchFailedCount + sizeof kSwitchFailedOf + sizeof kSwitchFailedAdvice + 2 * 10 +
                      sizeof kSwitchUnknown + sizeof kStillRunning + sizeof kModeNotStored + sizeof kConsentNeeded +
                      sizeof kNotStarted + 10 + 2 <=
                  sizeof AfterSwitch::text,
              "room for every part of a report at once");

}  // namespace

AfterSwitch DecideAfterSwitch(const drivermode::SwitchOutcome& outcome, bool stored, bool answeredOk) {
  AfterSwitch after;
  if (outcome.failed == 0 && stored && !outcome.unknown) {
    after.logOff = answeredOk;
    return after;
  }
  // A log-off would hide that the mode is not in force: the user learns what to do instead.
  after.report = true;
  wire::Text text;
  if (outcome.unknown) {
    text.Append(kSwitchUnknown);
    if (outcome.stillRunning) text.Append(kStillRunning);
  } else if (outcome.failed > 0) {
    text.Append(kSwitchFailedCount);
    text.AppendNumber(outcome.failed);
    text.Append(kSwitchFailedOf);
    text.AppendNumber(outcome.selected);
    text.Append(kSwitchFailedAdvice);
  } else {
    text.Append(kModeNotChanged);
  }
  if (outcome.consentMissing) {
    text.Append(kConsentNeeded);
  } else if (outcome.startError != 0) {
    text.Append(kNotStarted);
    text.AppendNumber(outcome.startError);
    text.Append(").");
  } else if (!stored) {
    text.Append(kModeNotStored);
  }
  // The longest report fits (above); a text that could not grow is cut short, never overrun.
  const std::size_t length = text.size() < sizeof after.text ? text.size() : sizeof after.text - 1;
  std::memcpy(after.text, text.data(), length);
  after.text[length] = '\0';
  return after;
}

}  // namespace controlpanel
