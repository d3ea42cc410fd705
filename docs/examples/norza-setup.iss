; The Norza driver's installer, made with Inno Setup 6 around tambrel.dll:
;
;   iscc /DNORZA_TAMBREL=<tambrel.dll> /DNORZA_DRIVER=<folder: the driver package's INF and every file it names (.cat, .sys ...)>
;        /DNORZA_INF=<the INF's file name> ["/DNORZA_HARDWARE_ID=<default USB\VID_7E51&PID_0002>"]
;        [/DNORZA_OUTPUT=<setup's base name, default norza-driver-setup>] [/O<output folder>] norza-setup.iss
;
; Paths are relative to this script's folder. Inno Setup 6 builds 32-bit setups
; only: they take the win32 package's tambrel.dll, which installs the driver on
; 64-bit Windows too. A 64-bit setup (the next major Inno Setup builds them)
; takes the win64 package's; a DLL of the other bitness does not load.
;
; Run silently (/VERYSILENT /SUPPRESSMSGBOXES /NORESTART), it ends with exit
; code 0 when the driver was installed, also when Windows needs a restart to
; finish it (add /RESTARTEXITCODE=3010 to get 3010 then; without /NORESTART it
; restarts Windows itself), 7 when the driver could not be installed (then
; nothing is), and another non-zero code without an administrator's rights.
; Setup always logs to %TEMP% (or /LOG="file"). The uninstaller removes the
; driver package again.

#ifndef NORZA_TAMBREL
#define NORZA_TAMBREL "tambrel.dll"
#endif
#ifndef NORZA_DRIVER
#define NORZA_DRIVER "driver"
#endif
#ifndef NORZA_INF
#define NORZA_INF "norza.inf"
#endif
#ifndef NORZA_HARDWARE_ID
#define NORZA_HARDWARE_ID "USB\VID_7E51&PID_0002"
#endif
#ifndef NORZA_OUTPUT
#define NORZA_OUTPUT "norza-driver-setup"
#endif

[Setup]
AppId=Quorvin.NorzaDriver
AppName=Norza Driver
AppVerName=Norza Driver
AppPublisher=Quorvin
DefaultDirName={autopf}\Quorvin\Norza Driver
DisableDirPage=yes
; Updating drivers needs it, and tambrel.dll never asks for it.
PrivilegesRequired=admin
OutputBaseFilename={#NORZA_OUTPUT}
; Log() writes nothing without a log; deployment tools want one anyway.
SetupLogging=yes
UninstallLogging=yes

[Files]
; For [Code] alone (dontcopy), extractable before any password (noencryption).
Source: "{#NORZA_TAMBREL}"; DestDir: "{tmp}"; DestName: "tambrel.dll"; Flags: dontcopy noencryption
Source: "{#NORZA_DRIVER}\*"; DestDir: "{tmp}\driver"; Flags: dontcopy noencryption recursesubdirs

[Code]
const
  NorzaButton = 1;                 // IDOK, for any confirmation the update shows
  RebootRequiredError = 3010;      // ERROR_SUCCESS_REBOOT_REQUIRED
  NoSuchDevInstError = -536870389; // ERROR_NO_SUCH_DEVINST, 0xE000020B as a signed LongInt

var
  RestartNeeded: Boolean;

// tambrel.dll, as include\tambrel.h declares it. delayload: it is extracted
// only in PrepareToInstall; setuponly: the uninstaller never loads it.
function CloseZDLWindow: Boolean;
  external 'CloseZDLWindow@{tmp}\tambrel.dll stdcall delayload setuponly';
function InstallDev(nButtonId, nClickCount: Integer; pszInfDir, pszInfName, pszHardwareId: AnsiString): Boolean;
  external 'InstallDev@{tmp}\tambrel.dll stdcall delayload setuponly';
function GetDevicePresentCount(pszIdText: AnsiString): Integer;
  external 'GetDevicePresentCount@{tmp}\tambrel.dll stdcall delayload setuponly';

// Without an administrator's rights Windows would only refuse the update.
function HasAdminRights(Silent: Boolean): Boolean;
begin
  Result := IsAdmin;
  if not Result then begin
    Log('No administrator''s rights: stopping.');
    if not Silent then
      MsgBox('Installing the Norza driver needs an administrator''s rights.'#13#10#13#10 +
        'Start the setup again as an administrator.', mbCriticalError, MB_OK);
  end;
end;

function InitializeSetup: Boolean;
begin
  Result := HasAdminRights(WizardSilent);
end;

function InitializeUninstall: Boolean;
begin
  Result := HasAdminRights(UninstallSilent);
end;

// The driver goes in before Setup installs anything of its own: a failure stops
// Setup on the Preparing to Install page (exit code 7), leaving no uninstaller.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  InfDir, Reason: String;
  Present, LastError: Integer;
  Installed: Boolean;
begin
  Result := '';
  RestartNeeded := False;
  InfDir := ExpandConstant('{tmp}\driver');
  try
    // They land at {tmp}\tambrel.dll and in {tmp}\driver, subfolders kept.
    ExtractTemporaryFiles('{tmp}\tambrel.dll');
    ExtractTemporaryFiles('{tmp}\driver\*');
    try
      // A connected Norza's functions have the ID in their first hardware ID.
      Present := GetDevicePresentCount('{#NORZA_HARDWARE_ID}');
      Log(Format('Norza functions connected: %d', [Present]));
      Installed := InstallDev(NorzaButton, 0, InfDir, '{#NORZA_INF}', '{#NORZA_HARDWARE_ID}');
      LastError := DLLGetLastError;  // before any other DLL call
      CloseZDLWindow;
    finally
      // Unloaded, so that Setup can delete its temporary folder.
      UnloadDLL(ExpandConstant('{tmp}\tambrel.dll'));
    end;
  except
    Result := 'The Norza driver could not be installed: ' + GetExceptionMessage;
    Log(Result);
    Exit;
  end;

  if Installed then begin
    Log('The Norza driver is installed.');
    // Windows does not ask for the restart itself: NeedRestart has Setup do it.
    RestartNeeded := LastError = RebootRequiredError;
    if RestartNeeded then
      Log('Windows needs a restart to finish the installation.');
  end else if (Present = 0) and (LastError = NoSuchDevInstError) and FileExists(InfDir + '\{#NORZA_INF}') then
    // Nothing to update now: the package is in the driver store, and Windows
    // takes it when a Norza is connected.
    Log('No Norza is connected: its driver is installed when one is.')
  else begin
    // As Windows' tools show an error: in hexadecimal, with the system's text.
    Reason := SysErrorMessage(LastError);
    if Reason = '' then
      Reason := 'Windows has no text for this error.';
    Result := Format('The Norza driver could not be installed.'#13#10#13#10 +
      'Error 0x%.8x: %s', [LastError, Reason]);
    Log(Result);
  end;
end;

function NeedRestart: Boolean;
begin
  Result := RestartNeeded;
end;

// Windows keeps the package in its driver store as oem<N>.inf: found by its
// original name in pnputil's list (its labels are translated, its values are
// not), it is deleted and the driver uninstalled from the devices that use it
// (Windows 10 1607 and later). {sysnative}: the 64-bit PowerShell, and so the
// 64-bit pnputil, also from this 32-bit uninstaller.
procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Script: String;
  ResultCode: Integer;
begin
  if CurUninstallStep <> usUninstall then
    Exit;
  Script := '$published = ''''; foreach ($line in (pnputil.exe /enum-drivers)) { ' +
    '$value = ($line -split '':'', 2)[1]; if (-not $value) { continue }; $value = $value.Trim(); ' +
    'if ($value -match ''^oem[0-9]+\.inf$'') { $published = $value } ' +
    'elseif ($published -and $value -ieq ''{#NORZA_INF}'') { pnputil.exe /delete-driver $published /uninstall; $published = '''' } }';
  if Exec(ExpandConstant('{sysnative}\WindowsPowerShell\v1.0\powershell.exe'),
      '-NoProfile -NonInteractive -Command "' + Script + '"', '', SW_HIDE, ewWaitUntilTerminated, ResultCode) then
    Log(Format('Driver package removal: exit code %d', [ResultCode]))
  else
    Log('Driver package removal: PowerShell did not start: ' + SysErrorMessage(ResultCode));
end;
