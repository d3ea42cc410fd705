#include "driver_control_dialog.h"

#include "default_endpoints.h"
#include "device_control.h"
#include "mode_store.h"
#include "platform/rights.h"
#include "platform/session.h"
#include "resource.h"
#include "sound_devices.h"

#include <cstring>

namespace {

constexpr char kRebootPrompt[] = "Your machine needs to be rebooted for the changes to take place";
constexpr char kPromptCaption[] = "Norza Driver";
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
// Every bit of the reason set: no particular reason is claimed for the log-off.
constexpr DWORD kLogOffReason = 0xFFFFFFFF;

// One dialog per process: its state lives as long as the process.
int g_currentMode = -1;   // the mode taken to be in force; may be neither mode
// A switch is running: the confirmation sequence, or the opening's. Message
// boxes run their own message loops, and on 64-bit Windows so does the wait
// for the device helper; a second start can show the dialog meanwhile, and
// its buttons must not start a second switch, log-off or close.
bool g_switching = false;
// Registry virtualization is off: what the panel stores is the machine's mode,
// or refused; never a copy of the user's own that nobody else reads.
bool g_storeAllowed = false;

// Stores the mode where the panel may; false when it is not stored.
bool StoreMode(int mode) { return g_storeAllowed && WriteAudioMode(mode); }

void OnInitDialog(HWND dialog) {
  g_switching = false;
  g_storeAllowed = platform::TurnOffRegistryVirtualization();
  int mode = ReadAudioMode();
  g_currentMode = mode;
  if (mode == WDM || mode == ASIO) {
    // Unchecking the other button as well takes its tab stop away, so the
    // focus and Tab land on the checked one only.
    CheckRadioButton(dialog, IDC_WDM_MODE, IDC_ASIO_MODE, mode == WDM ? IDC_WDM_MODE : IDC_ASIO_MODE);
    g_switching = true;
    // Shows nothing: this is where an unfinished switch is retried. Without
    // the rights, storing the mode again rides along with an elevated run the
    // switch needs, and never asks for consent alone.
    const SwitchOutcome outcome = ApplyDriverMode(mode, ChooseDeviceRoute(), ModeStore::IfSwitching);
    g_switching = false;
    if (!outcome.stored) StoreMode(mode);
  }
}

void Close(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  DestroyWindow(dialog);
}

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

// A log-off would hide that the mode is not in force; the user learns what
// to do instead. The stored mode stays, so the next opening finishes the switch.
void ReportFailedSwitch(const SwitchOutcome& outcome, bool stored) {
  char text[sizeof kSwitchFailedCount + sizeof kSwitchFailedOf + sizeof kSwitchFailedAdvice + sizeof kModeNotStored +
            sizeof kNotStarted + sizeof kConsentNeeded + 3 * 12];
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
  } else if (outcome.startError != ERROR_SUCCESS) {
    std::strcat(text, kNotStarted);
    AppendNumber(text, outcome.startError);
    std::strcat(text, ").");
  } else if (!stored) {
    std::strcat(text, kModeNotStored);
  }
  MessageBoxA(nullptr, text, kPromptCaption, MB_OK | MB_ICONERROR);
}

void OnOk(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  // Only the WDM button is asked: with neither checked the choice is ASIO.
  bool wdmSelected = IsDlgButtonChecked(dialog, IDC_WDM_MODE) == BST_CHECKED;
  int selected = wdmSelected ? WDM : ASIO;
  const bool changed = selected != g_currentMode;
  // Without the rights, a changed mode is stored by the one elevated run of
  // the switch, after the prompt.
  const DeviceRoute route = ChooseDeviceRoute();
  const bool storeInRun = changed && route == DeviceRoute::ElevatedRun;
  bool stored = !storeInRun && StoreMode(selected);
  if (!changed) {
    DestroyWindow(dialog);
    return;
  }

  // The user's own settings: always here, never in an elevated run that may
  // run as another administrator.
  ReassignDefaultSoundDevices();
  ReassignDefaultAudioEndpoints();
  g_currentMode = selected;

  g_switching = true;
  int answer = MessageBoxA(nullptr, kRebootPrompt, kPromptCaption, MB_OKCANCEL);
  SwitchOutcome outcome = ApplyDriverMode(selected, route, ModeStore::Always);
  if (storeInRun) stored = outcome.stored;
  // A log-off only once the mode is in force and stored for the next start.
  if (outcome.failed > 0 || !stored) {
    ReportFailedSwitch(outcome, stored);
  } else if (answer == IDOK) {
    platform::ExitWindowsEx(EWX_LOGOFF, kLogOffReason);
  }
  g_switching = false;
  DestroyWindow(dialog);
}

INT_PTR Dispatch(HWND dialog, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;  // the platform focuses the first tab stop: the checked mode, else WDM

    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        if (!g_switching) OnOk(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        if (!g_switching) Close(dialog);
        return TRUE;
      }
      return FALSE;

    case WM_SYSCOMMAND:
      if (wParam == SC_CLOSE) {
        if (!g_switching) Close(dialog);
        return TRUE;
      }
      return FALSE;

    case WM_SHOW_CONTROL_PANEL:
      ShowWindow(dialog, SW_SHOW);
      SetForegroundWindow(dialog);
      return FALSE;

    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;

    default:
      return FALSE;
  }
}

}  // namespace

SwitchOutcome ApplyDriverMode(int mode, DeviceRoute route, ModeStore store) {
  StateChangeBatch wdm{2, WdmInterfacePatterns, mode == WDM ? DWORD{DICS_ENABLE} : DWORD{DICS_DISABLE}, {}, 0};
  StateChangeBatch asio{1, AsioInterfacePatterns, mode == WDM ? DWORD{DICS_DISABLE} : DWORD{DICS_ENABLE}, {}, 0};
  // The mode's own functions first, then the other mode's.
  StateChangeBatch batches[2] = {mode == WDM ? wdm : asio, mode == WDM ? asio : wdm};
  StateChangeStep step;
  step.mode = mode;
  step.runAlone = store == ModeStore::Always;
  ChangeDeviceStates(batches, 2, route, &step);

  SwitchOutcome outcome;
  for (const StateChangeBatch& batch : batches) {
    outcome.selected += batch.outcome.devicesSelected;
    outcome.failed += batch.outcome.devicesSelected - batch.outcome.devicesChanged;
  }
  outcome.stored = step.stored;
  if (route == DeviceRoute::ElevatedRun && step.helper == HelperRunOutcome::NotStarted) {
    // Only a refusal is the user's; any other failure to start is the machine's.
    outcome.consentMissing = step.startError == ERROR_CANCELLED;
    if (!outcome.consentMissing) {
      outcome.startError = step.startError != ERROR_SUCCESS ? step.startError : ERROR_GEN_FAILURE;
    }
  }
  return outcome;
}

// Built without exceptions: nothing can unwind into the platform's dialog manager.
INT_PTR CALLBACK DriverControlDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return Dispatch(dialog, message, wParam);
}
