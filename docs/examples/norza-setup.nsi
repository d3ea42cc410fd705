; The Norza driver's installer, made with NSIS 3 around tambrel.dll. One
; source for 32-bit installers (with the win32 package's tambrel.dll) and
; 64-bit ones (with the win64 package's):
;
;   makensis -DNORZA_TARGET=x86-unicode|amd64-unicode -DNORZA_TAMBREL=<tambrel.dll>
;            -DNORZA_DRIVER=<folder: the driver package's INF and every file it names (.cat, .sys ...)>
;            -DNORZA_INF=<the INF's file name> [-DNORZA_HARDWARE_ID=<default USB\VID_7E51&PID_0002>]
;            -DNORZA_OUTFILE=<setup.exe> norza-setup.nsi
;
; Run silently (/S), it ends with exit code 0 when the driver was installed,
; 3010 when it was and Windows needs a restart to finish, 740 without an
; administrator's rights, and otherwise the error that stopped it (never 0
; or 3010). Its uninstaller removes the driver package again.

!ifndef NORZA_TARGET | NORZA_TAMBREL | NORZA_DRIVER | NORZA_INF | NORZA_OUTFILE
  !error "Give NORZA_TARGET, NORZA_TAMBREL, NORZA_DRIVER, NORZA_INF and NORZA_OUTFILE (see the top of this file)"
!endif
!ifndef NORZA_HARDWARE_ID
  !define NORZA_HARDWARE_ID "USB\VID_7E51&PID_0002"
!endif
; The button that tambrel.dll presses on every window the installation opens
; meanwhile (1 = IDOK). A signed driver package opens none on current Windows.
!define NORZA_BUTTON 1
!define NORZA_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvin Norza Driver"

Target ${NORZA_TARGET}
!include LogicLib.nsh
!include x64.nsh

Name "Norza Driver"
OutFile "${NORZA_OUTFILE}"
RequestExecutionLevel admin  ; updating drivers needs it; tambrel.dll never asks
!if "${NORZA_TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\Quorvin\Norza Driver"
!else
  InstallDir "$PROGRAMFILES\Quorvin\Norza Driver"
!endif
ShowInstDetails show
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Without an administrator's rights (UAC turned off, or a standard account
; on Windows without it) the update would only be refused.
!macro NorzaRequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Installing the Norza driver needs an administrator's rights.$\n$\nStart the setup again as an administrator." /SD IDOK
    SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend
Function .onInit
  !insertmacro NorzaRequireAdmin
FunctionEnd
Function un.onInit
  !insertmacro NorzaRequireAdmin
FunctionEnd

Section "Norza driver"
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\driver"
  File /r "${NORZA_DRIVER}\*.*"
  SetOutPath "$PLUGINSDIR"
  File "/oname=tambrel.dll" "${NORZA_TAMBREL}"

  ; The functions of a connected Norza: each has the hardware ID in its first one.
  System::Call '$PLUGINSDIR\tambrel.dll::GetDevicePresentCount(m "${NORZA_HARDWARE_ID}") i .r2'
  DetailPrint "Norza functions connected: $2"

  ; m: an ANSI text, as tambrel.dll takes, in a Unicode installer too.
  ; ?e: the thread's last error after the call, pushed on the stack.
  System::Call '$PLUGINSDIR\tambrel.dll::InstallDev(i ${NORZA_BUTTON}, i 0, m "$PLUGINSDIR\driver", m "${NORZA_INF}", m "${NORZA_HARDWARE_ID}") i .r0 ?e'
  Pop $1
  IntOp $0 $0 & 0xFF  ; a one-byte result: only the low byte of the register means anything
  ; ?u: the last call unloads the DLL, so that the plug-ins folder can go.
  System::Call '$PLUGINSDIR\tambrel.dll::CloseZDLWindow() i ?u'

  IntFmt $3 "0x%08X" $1
  ${If} $0 = 1
    DetailPrint "The Norza driver is installed."
    ${If} $1 = 3010  ; ERROR_SUCCESS_REBOOT_REQUIRED
      DetailPrint "Windows needs a restart to finish the installation."
      SetRebootFlag true
    ${EndIf}
  ${ElseIf} $2 = 0
  ${AndIf} $3 == "0xE000020B"  ; ERROR_NO_SUCH_DEVINST
  ${AndIf} ${FileExists} "$PLUGINSDIR\driver\${NORZA_INF}"
    ; Nothing to update now: the package is in the driver store, and Windows
    ; takes it when a Norza is connected.
    DetailPrint "No Norza is connected: its driver is installed when one is."
  ${Else}
    ; The system's text for the error, where it has one.
    System::Call 'kernel32::FormatMessage(i 0x1200, p 0, i r1, i 0, t .r4, i ${NSIS_MAX_STRLEN}, p 0) i .r5'
    ${If} $5 = 0
      StrCpy $4 "Windows has no text for this error."
    ${EndIf}
    DetailPrint "The Norza driver could not be installed: error $3. $4"
    MessageBox MB_ICONSTOP "The Norza driver could not be installed.$\n$\nError $3: $4" /SD IDOK
    ${If} $1 = 0
    ${OrIf} $1 = 3010
      StrCpy $1 1603  ; ERROR_INSTALL_FAILURE: never a code that reads as done
    ${EndIf}
    SetErrorLevel $1
    Abort "Installation failed (error $3)."
  ${EndIf}

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${NORZA_UNINSTALL_KEY}" "DisplayName" "Norza Driver"
  WriteRegStr HKLM "${NORZA_UNINSTALL_KEY}" "Publisher" "Quorvin"
  WriteRegStr HKLM "${NORZA_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${NORZA_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${NORZA_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${NORZA_UNINSTALL_KEY}" "NoRepair" 1
  IfRebootFlag 0 +2
    SetErrorLevel 3010
SectionEnd

Function .onInstSuccess
  IfRebootFlag 0 done
    MessageBox MB_YESNO|MB_ICONQUESTION "Windows needs a restart to finish installing the Norza driver. Restart now?" /SD IDNO IDNO done
    Reboot
  done:
FunctionEnd

; The driver package goes with the driver: Windows names its copy in the
; store oem<N>.inf, so it is found by its original name in pnputil's list
; (its labels are translated, its values are not) and deleted, with the
; driver uninstalled from the devices that use it (Windows 10 1607 and later).
Section "Uninstall"
  ${DisableX64FSRedirection}  ; a 32-bit uninstaller reaches the 64-bit pnputil
  nsExec::ExecToLog `powershell.exe -NoProfile -NonInteractive -Command "$$published = ''; foreach ($$line in (pnputil.exe /enum-drivers)) { $$value = ($$line -split ':', 2)[1]; if (-not $$value) { continue }; $$value = $$value.Trim(); if ($$value -match '^oem[0-9]+\.inf$$') { $$published = $$value } elseif ($$published -and $$value -ieq '${NORZA_INF}') { pnputil.exe /delete-driver $$published /uninstall; $$published = '' } }"`
  Pop $0
  ${EnableX64FSRedirection}
  DetailPrint "Driver package removal: $0"
  DeleteRegKey HKLM "${NORZA_UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."  ; Quorvin's folder, when nothing else of Quorvin's is in it
SectionEnd
