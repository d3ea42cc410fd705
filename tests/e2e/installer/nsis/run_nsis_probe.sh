#!/usr/bin/env bash
# Builds the NSIS probe installer around tambrel.dll, runs it silently under
# Wine (the environment comes from norza_add_command_test) and checks what it
# recorded and what landed in the prefix's driver store.
#   run_nsis_probe.sh MAKENSIS SCRIPT TAMBREL_DLL WORK_DIR [NORZA_DEVICES CLASS_INSTALLER_X64]
# In a 64-bit prefix, with the last two given, a device of a test class whose
# 64-bit class installer pops up a confirmation is registered with the probe's
# hardware ID: the installation, run by the 64-bit device helper, must press
# it, and the helper's folder (the installer runs elevated: under the Windows
# temporary folder) cannot be renamed while it runs.
set -euo pipefail
makensis="$1" script="$2" dll="$3" work="$4-$NORZA_WINE_ARCH" devices_tool="${5:-}" class_installer="${6:-}"

rm -rf "$work"
mkdir -p "$work"
marker="norza nsis probe $$"
hwid="NORZANSIS\\VID_7E51&PID_0002_$$"
class_guid="{7e510002-0000-4e4f-9a00-$(printf '%012x' $$)}"
inf="$work/norza_nsis_probe.inf"
store="$NORZA_WINE_PREFIX/drive_c/windows/inf"
wine_run() { "$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" "$@"; }
# The installer is 32-bit, as the library it loads: skipped (77) where no 32-bit code runs.
if ! why="$(wine_run --check "$dll")"; then
  echo "skipped: the NSIS installer and tambrel.dll are 32-bit, and this machine runs none ($why)"; exit 77
fi

printf '%s\r\n' "; $marker" '[Version]' 'Signature="$Windows NT$"' 'Class=NorzaProbe' \
  "ClassGuid=$class_guid" 'Provider=%Quorvin%' 'DriverVer=01/01/2026,1.0.0.0' '' \
  '[Manufacturer]' '%Quorvin%=Quorvin,NTx86,NTamd64' '' '[Quorvin.NTx86]' "%Desc%=NorzaInstall,$hwid" \
  '[Quorvin.NTamd64]' "%Desc%=NorzaInstall,$hwid" '' '[NorzaInstall]' '' '[NorzaInstall.Services]' \
  'AddService=,2' '' '[Strings]' 'Quorvin="Quorvin"' 'Desc="Norza probe device"' > "$inf"

confirming=0
if [ "$NORZA_WINE_ARCH" = win64 ] && [ -n "$class_installer" ]; then confirming=1; fi
class_key="HKLM\\System\\CurrentControlSet\\Control\\Class\\$class_guid"
device="ROOT\\NORZANSIS\\$$"

stored_copies() { grep -l -F "$marker" "$store"/*.inf 2>/dev/null || true; }
cleanup() {
  local f
  for f in $(stored_copies); do rm -f "$f" "${f%.inf}.pnf"; done
  if [ $confirming -eq 1 ]; then
    wine_run "$devices_tool" remove-one "$device" || true
    wine_run reg delete "$class_key" /f >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

if [ $confirming -eq 1 ]; then
  cp "$class_installer" "$work/class_installer.dll"
  installer_path="$(WINEPREFIX="$NORZA_WINE_PREFIX" winepath -w "$work/class_installer.dll" 2>/dev/null)"
  wine_run reg add "$class_key" /v Class /t REG_SZ /d NorzaProbe /f >/dev/null
  wine_run reg add "$class_key" /v Installer32 /t REG_SZ /d "$installer_path,ClassInstall" /f >/dev/null
  wine_run "$devices_tool" register-one "$device" "$class_guid" "$hwid"
fi

"$makensis" -V2 -DTAMBREL_DLL="$dll" -DPROBE_INF="$inf" -DHARDWARE_ID="$hwid" \
  -DOUTFILE="$work/tambrel_probe.exe" "$script"

wine_run "$work/tambrel_probe.exe" /S

results="$work/tambrel_probe.txt"
[ -f "$results" ] || { echo "the installer wrote no results" >&2; exit 1; }
tr -d '\r' < "$results" > "$results.unix"
cat "$results.unix"

fail=0
expect() {
  local got
  got="$(sed -n "s/^$1=//p" "$results.unix")"
  if [ "$got" != "$2" ]; then echo "FAIL: $1 is '$got', expected '$2'" >&2; fail=1; fi
}
# Where Wine falls short of Windows: Windows' value, Wine's and why. Wine's
# only when the installer ran under Wine, and then the output says so.
under_wine="$(sed -n 's/^wine=//p' "$results.unix")"
wine_differs() {  # WINDOWS WINE REASON
  if [ "$under_wine" = 1 ]; then echo "todo_wine: $3" >&2; echo "$2"; else echo "$1"; fi
}
expect close 1
expect count_none 0
expect count_null 0
if [ $confirming -eq 1 ]; then
  expect install 1      # the probe's device has the ID
  expect install_error 0
else
  no_device="Wine's update answers TRUE when no device has the ID"
  expect install "$(wine_differs 0 1 "$no_device")"
  # ERROR_NO_SUCH_DEVINST, 0xE000020B, which NSIS gives as a signed number
  expect install_error "$(wine_differs -536870389 0 "$no_device")"
fi
expect install_long 0
expect install_long_error 87  # ERROR_INVALID_PARAMETER
expect install_null 0
expect done 1
copies="$(stored_copies | wc -l)"
if [ "$copies" -ne 1 ]; then echo "FAIL: $copies copies of the package in the driver store, expected 1" >&2; fail=1; fi
# The device helper takes its folder with it.
left="$(ls -d "$NORZA_WINE_PREFIX"/drive_c/windows/temp/norza-* "$NORZA_WINE_PREFIX"/drive_c/users/*/Temp/norza-* \
  "$NORZA_WINE_PREFIX"/drive_c/users/*/AppData/Local/Temp/norza-* 2>/dev/null || true)"
if [ -n "$left" ]; then echo "FAIL: the helper left $left behind" >&2; fail=1; fi
if [ $confirming -eq 1 ]; then
  log="$(tr -d '\r' < "$work/class_installer.dll.log" 2>/dev/null || true)"
  echo "class installer: $(echo "$log" | tr '\n' ' ')"
  if ! grep -qx pressed <<< "$log"; then
    echo "FAIL: the class installer's confirmation was not pressed" >&2; fail=1
  fi
  if ! grep -qix 'folder held: C:\\windows\\temp\\norza-[0-9a-f]\{16\}' <<< "$log"; then
    echo "FAIL: the helper's folder is not held under the Windows temporary folder" >&2; fail=1
  fi
fi
exit "$fail"
