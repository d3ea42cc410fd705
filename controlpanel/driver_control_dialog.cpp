#include "driver_control_dialog.h"

#include "audio_endpoints.h"
#include "device_control.h"
#include "mode_store.h"
#include "platform/session.h"
#include "resource.h"
#include "sound_devices.h"

#include <cstdio>

const char* const WdmInterfacePatterns[2] = {"@USB\\VID_7E51&PID_0002&MI_00\\*",
                                             "@USB\\VID_7E51&PID_0002&MI_03\\*"};
const char* const AsioInterfacePatterns[1] = {"@USB\\VID_7E51&PID_0002&MI_08\\*"};

namespace {

constexpr char kRebootPrompt[] = "Your machine needs to be rebooted for the changes to take place";
constexpr char kPromptCaption[] = "Norza Driver";
constexpr char kSwitchFailed[] =
    "The Norza's driver mode could not be changed: %u of its %u functions could not be switched.\n\n"
    "Close the programs that use the Norza and try again, or start the control panel as an "
    "administrator.";
// Every bit of the reason set: no particular reason is claimed for the log-off.
constexpr DWORD kLogOffReason = 0xFFFFFFFF;

// One dialog per process: its state lives as long as the process.
int g_currentMode = -1;   // the mode taken to be in force; may be neither mode
// A switch is running: the confirmation sequence, or the opening's. Message
// boxes run their own message loops, and on 64-bit Windows so does the wait
// for the device helper; a second start can show the dialog meanwhile, and
// its buttons must not start a second switch, log-off or close.
bool g_switching = false;

void OnInitDialog(HWND dialog) {
  g_switching = false;
  int mode = ReadAudioMode();
  g_currentMode = mode;
  if (mode == WDM || mode == ASIO) {
    // Unchecking the other button as well takes its tab stop away, so the
    // focus and Tab land on the checked one only.
    CheckRadioButton(dialog, IDC_WDM_MODE, IDC_ASIO_MODE, mode == WDM ? IDC_WDM_MODE : IDC_ASIO_MODE);
    g_switching = true;
    ApplyDriverMode(mode);  // shows nothing: this is where an unfinished switch is retried
    g_switching = false;
    WriteAudioMode(mode);
  }
}

void Close(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  DestroyWindow(dialog);
}

// A log-off would hide that the mode is not in force; the user learns what
// to do instead. The stored mode stays, so the next opening finishes the switch.
void ReportFailedSwitch(const SwitchOutcome& outcome) {
  char text[sizeof kSwitchFailed + 32];
  std::snprintf(text, sizeof text, kSwitchFailed, static_cast<unsigned>(outcome.failed),
                static_cast<unsigned>(outcome.selected));
  MessageBoxA(nullptr, text, kPromptCaption, MB_OK | MB_ICONERROR);
}

void OnOk(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  // Only the WDM button is asked: with neither checked the choice is ASIO.
  bool wdmSelected = IsDlgButtonChecked(dialog, IDC_WDM_MODE) == BST_CHECKED;
  int selected = wdmSelected ? WDM : ASIO;
  WriteAudioMode(selected);
  if (selected == g_currentMode) {
    DestroyWindow(dialog);
    return;
  }

  ReassignDefaultSoundDevices();
  ReassignDefaultAudioEndpoints();
  g_currentMode = selected;

  g_switching = true;
  int answer = MessageBoxA(nullptr, kRebootPrompt, kPromptCaption, MB_OKCANCEL);
  SwitchOutcome outcome = ApplyDriverMode(selected);
  if (outcome.failed > 0) {
    ReportFailedSwitch(outcome);
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

SwitchOutcome ApplyDriverMode(int mode) {
  CDeviceControl control;
  DeviceStateChangeContext enabled{};
  DeviceStateChangeContext disabled{};
  if (mode == WDM) {
    control.EnableDevices(2, WdmInterfacePatterns, &enabled);
    control.DisableDevices(1, AsioInterfacePatterns, &disabled);
  } else {
    control.EnableDevices(1, AsioInterfacePatterns, &enabled);
    control.DisableDevices(2, WdmInterfacePatterns, &disabled);
  }
  SwitchOutcome outcome;
  outcome.selected = enabled.devicesSelected + disabled.devicesSelected;
  outcome.failed = outcome.selected - enabled.devicesChanged - disabled.devicesChanged;
  return outcome;
}

// Built without exceptions: nothing can unwind into the platform's dialog manager.
INT_PTR CALLBACK DriverControlDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return Dispatch(dialog, message, wParam);
}
