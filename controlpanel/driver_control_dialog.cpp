#include "controlpanel/driver_control_dialog.h"

#include "controlpanel/mode_change.h"
#include "controlpanel/resource.h"
#include "controlpanel/switch_report.h"
#include "platform/rights.h"
#include "platform/session.h"

namespace controlpanel {

namespace {

using drivermode::DriverMode;
using drivermode::SwitchOutcome;

constexpr char kRebootPrompt[] = "Your machine needs to be rebooted for the changes to take place";
constexpr char kPromptCaption[] = "Norza Driver";
// Every bit of the reason set: no particular reason is claimed for the log-off.
constexpr DWORD kLogOffReason = 0xFFFFFFFF;
// Posted to itself as it opens: the opening's switch runs once the dialog is
// on screen.
constexpr UINT WM_OPENING_SWITCH = WM_APP + 0x67;

// One dialog per process: its state lives as long as the process.
struct DialogState {
  int currentMode = -1;  // the mode taken to be in force; may be neither mode (as read)
  // A switch is running: the confirmation sequence, or the opening's. Message
  // boxes run their own message loops, and on 64-bit Windows so does the
  // wait for the device helper; a second start can show the dialog
  // meanwhile, and its buttons must not start a second switch, log-off or
  // close.
  bool switching = false;
  // Registry virtualization is off: what the panel stores is the machine's
  // mode, or refused; never a copy of the user's own that nobody else reads.
  bool storeAllowed = false;
};
DialogState g_dialog;

void OnInitDialog(HWND dialog) {
  g_dialog = DialogState{};
  g_dialog.storeAllowed = platform::TurnOffRegistryVirtualization();
  const int mode = drivermode::ReadAudioMode();
  g_dialog.currentMode = mode;
  if (mode == drivermode::WDM || mode == drivermode::ASIO) {
    // Unchecking the other button as well takes its tab stop away, so the
    // focus and Tab land on the checked one only.
    CheckRadioButton(dialog, IDC_WDM_MODE, IDC_ASIO_MODE, mode == drivermode::WDM ? IDC_WDM_MODE : IDC_ASIO_MODE);
    // Until the switch has run, OK, Cancel and the close box do nothing.
    g_dialog.switching = true;
    PostMessageA(dialog, WM_OPENING_SWITCH, 0, 0);
  }
}

// The mode buttons, OK and Cancel: greyed while a switch runs.
void EnableChoices(HWND dialog, BOOL enable) {
  static const int kChoices[] = {IDC_WDM_MODE, IDC_ASIO_MODE, IDOK, IDCANCEL};
  for (int id : kChoices) EnableWindow(GetDlgItem(dialog, id), enable);
}

// The dialog first, then the work: the user sees the mode at once, however
// long the machine takes to list its devices, and the choices come alive
// once it is through.
void OnOpeningSwitch(HWND dialog) {
  HWND focus = GetFocus();
  EnableChoices(dialog, FALSE);
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  // Shows nothing: this is where an unfinished switch is retried.
  Reapply(static_cast<DriverMode>(g_dialog.currentMode), g_dialog.storeAllowed);
  g_dialog.switching = false;
  EnableChoices(dialog, TRUE);
  if (focus != nullptr && IsChild(dialog, focus)) SetFocus(focus);
}

void Close(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  DestroyWindow(dialog);
}

void OnOk(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  // Only the WDM button is asked: with neither checked the choice is ASIO.
  bool wdmSelected = IsDlgButtonChecked(dialog, IDC_WDM_MODE) == BST_CHECKED;
  const DriverMode selected = wdmSelected ? drivermode::WDM : drivermode::ASIO;
  ModeChange change = BeginModeChange(selected, g_dialog.currentMode, g_dialog.storeAllowed);
  if (!change.changed) {
    DestroyWindow(dialog);
    return;
  }
  g_dialog.currentMode = selected;

  g_dialog.switching = true;
  int answer = MessageBoxA(nullptr, kRebootPrompt, kPromptCaption, MB_OKCANCEL);
  const SwitchOutcome outcome = FinishModeChange(change);
  const AfterSwitch after = DecideAfterSwitch(outcome, change.stored, answer == IDOK);
  if (after.report) MessageBoxA(nullptr, after.text, kPromptCaption, MB_OK | MB_ICONERROR);
  if (after.logOff) platform::ExitWindowsEx(EWX_LOGOFF, kLogOffReason);
  g_dialog.switching = false;
  DestroyWindow(dialog);
}

INT_PTR Dispatch(HWND dialog, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;  // the platform focuses the first tab stop: the checked mode, else WDM

    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        if (!g_dialog.switching) OnOk(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        if (!g_dialog.switching) Close(dialog);
        return TRUE;
      }
      return FALSE;

    case WM_SYSCOMMAND:
      if (wParam == SC_CLOSE) {
        if (!g_dialog.switching) Close(dialog);
        return TRUE;
      }
      return FALSE;

    case WM_OPENING_SWITCH:
      OnOpeningSwitch(dialog);
      return TRUE;

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

// Built without exceptions: nothing can unwind into the platform's dialog manager.
INT_PTR CALLBACK DriverControlDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return Dispatch(dialog, message, wParam);
}

}  // namespace controlpanel
