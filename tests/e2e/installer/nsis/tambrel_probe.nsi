; A silent installer that uses tambrel.dll the way a product installer does,
; and writes what each call returned to $EXEDIR\tambrel_probe.txt.
;   makensis -DTAMBREL_DLL=... -DPROBE_INF=... -DHARDWARE_ID=... -DOUTFILE=... tambrel_probe.nsi
Unicode true
Name "Norza driver probe"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SilentInstall silent
ShowInstDetails nevershow

Section
  InitPluginsDir
  SetOutPath $PLUGINSDIR
  File "/oname=tambrel.dll" "${TAMBREL_DLL}"
  File "/oname=norza_nsis_probe.inf" "${PROBE_INF}"
  FileOpen $9 "$EXEDIR\tambrel_probe.txt" w

  ; Wine's ntdll exports its version, Windows' does not: where the two differ,
  ; the checks expect Wine's results only under Wine.
  System::Call 'kernel32::GetModuleHandle(t "ntdll.dll") p .r0'
  System::Call 'kernel32::GetProcAddress(p r0, m "wine_get_version") p .r0'
  StrCpy $1 1
  StrCmp $0 0 0 +2
  StrCpy $1 0
  FileWrite $9 "wine=$1$\r$\n"

  ; One-byte results: only the low byte of the register means anything.
  System::Call '$PLUGINSDIR\tambrel.dll::CloseZDLWindow() i .r0'
  IntOp $0 $0 & 0xFF
  FileWrite $9 "close=$0$\r$\n"

  System::Call '$PLUGINSDIR\tambrel.dll::GetDevicePresentCount(m "NO_DEVICE_HAS_THIS_ID") i .r0'
  FileWrite $9 "count_none=$0$\r$\n"

  System::Call '$PLUGINSDIR\tambrel.dll::GetDevicePresentCount(i 0) i .r0'
  FileWrite $9 "count_null=$0$\r$\n"

  ; ?e: the thread's last error after the call, pushed on the stack.
  System::Call '$PLUGINSDIR\tambrel.dll::InstallDev(i 1, i 1, m "$PLUGINSDIR", m "norza_nsis_probe.inf", m "${HARDWARE_ID}") i .r0 ?e'
  Pop $1
  IntOp $0 $0 & 0xFF
  FileWrite $9 "install=$0$\r$\n"
  FileWrite $9 "install_error=$1$\r$\n"

  StrCpy $1 "$PLUGINSDIR\0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
  System::Call '$PLUGINSDIR\tambrel.dll::InstallDev(i 1, i 1, m r1, m "norza_nsis_probe.inf", m "${HARDWARE_ID}") i .r0 ?e'
  Pop $2
  IntOp $0 $0 & 0xFF
  FileWrite $9 "install_long=$0$\r$\n"
  FileWrite $9 "install_long_error=$2$\r$\n"

  ; ?u: the last call unloads the DLL so the plug-ins folder can go.
  System::Call '$PLUGINSDIR\tambrel.dll::InstallDev(i 1, i 1, i 0, m "norza_nsis_probe.inf", m "${HARDWARE_ID}") i .r0 ?u'
  IntOp $0 $0 & 0xFF
  FileWrite $9 "install_null=$0$\r$\n"

  FileWrite $9 "done=1$\r$\n"
  FileClose $9
  SetOutPath $EXEDIR
SectionEnd
