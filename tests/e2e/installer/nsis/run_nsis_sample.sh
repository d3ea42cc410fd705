#!/usr/bin/env bash
# Builds the installer sample, docs/examples/norza-setup.nsi, as an installer
# author does (for TARGET, with TAMBREL_DLL) and runs it silently under Wine
# (the environment comes from norza_add_command_test) against a stand-in
# Norza: it must put the driver package into the driver store and end with 0
# (or 3010), and its uninstaller must run. A second installer, whose INF does
# not exist, must end with an error.
#   run_nsis_sample.sh MAKENSIS TARGET TAMBREL_DLL WORK_DIR NORZA_DEVICES [CLASS_INSTALLER_X64]
# In a 64-bit prefix, with the class installer given, the stand-in's class
# asks for a confirmation while its driver is installed, which the
# installation must press; a 32-bit installer's helper runs from a folder
# under the Windows temporary folder that cannot be renamed meanwhile.
set -euo pipefail
makensis="$1" target="$2" dll="$3" work="$4-$NORZA_WINE_ARCH" devices_tool="$5" class_installer="${6:-}"
sample="$(cd "$(dirname "$0")/../../../../docs/examples" && pwd)/norza-setup.nsi"

rm -rf "$work"
mkdir -p "$work/driver"
marker="norza nsis sample $$"
hwid="NORZANSIS\\VID_7E51&PID_0002_$$"
class_guid="{7e510002-0000-4e4f-9a00-$(printf '%012x' $$)}"
store="$NORZA_WINE_PREFIX/drive_c/windows/inf"
wine_run() { "$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" "$@"; }
windows_path() { wine_run winepath -w "$1" | tr -d '\r'; }
if ! why="$(wine_run --check "$dll")"; then
  echo "skipped: the $target installer and its tambrel.dll are 32-bit, and this machine runs none ($why)"; exit 77
fi

# The driver package: an INF that names no further files.
printf '%s\r\n' "; $marker" '[Version]' 'Signature="$Windows NT$"' 'Class=NorzaSample' \
  "ClassGuid=$class_guid" 'Provider=%Quorvin%' 'DriverVer=01/01/2026,1.0.0.0' '' \
  '[Manufacturer]' '%Quorvin%=Quorvin,NTx86,NTamd64' '' '[Quorvin.NTx86]' "%Desc%=NorzaInstall,$hwid" \
  '[Quorvin.NTamd64]' "%Desc%=NorzaInstall,$hwid" '' '[NorzaInstall]' '' '[NorzaInstall.Services]' \
  'AddService=,2' '' '[Strings]' 'Quorvin="Quorvin"' 'Desc="Norza sample device"' > "$work/driver/norza.inf"

confirming=0
[ "$NORZA_WINE_ARCH" = win64 ] && [ -n "$class_installer" ] && confirming=1
class_key="HKLM\\System\\CurrentControlSet\\Control\\Class\\$class_guid"
device="ROOT\\NORZANSIS\\$$"
installed() { ls -d "$NORZA_WINE_PREFIX"/drive_c/Program\ Files*/Quorvin/Norza\ Driver 2>/dev/null || true; }
stored_copies() { grep -l -F "$marker" "$store"/*.inf 2>/dev/null || true; }
cleanup() {
  local f
  for f in $(stored_copies); do rm -f "$f" "${f%.inf}.pnf"; done
  wine_run "$devices_tool" remove-one "$device" || true
  wine_run reg delete "$class_key" /f > /dev/null 2>&1 || true
  local dir
  dir="$(installed)"
  [ -z "$dir" ] || { rm -rf "$dir"; rmdir "$(dirname "$dir")" 2>/dev/null || true; }
}
trap cleanup EXIT
wine_run reg add "$class_key" /v Class /t REG_SZ /d NorzaSample /f > /dev/null
if [ $confirming -eq 1 ]; then
  cp "$class_installer" "$work/class_installer.dll"
  installer_path="$(windows_path "$work/class_installer.dll")"
  wine_run reg add "$class_key" /v Installer32 /t REG_SZ /d "$installer_path,ClassInstall" /f > /dev/null
fi
wine_run "$devices_tool" register-one "$device" "$class_guid" "$hwid"

build() {  # NAME INF
  "$makensis" -V2 -DNORZA_TARGET="$target" -DNORZA_TAMBREL="$dll" -DNORZA_DRIVER="$work/driver" -DNORZA_INF="$2" \
    -DNORZA_HARDWARE_ID="$hwid" -DNORZA_OUTFILE="$work/$1.exe" "$sample"
}
run() {  # NAME: the installer's exit code
  local code=0
  wine_run "$work/$1.exe" /S || code=$?
  echo $code
}
fail=0
no() { echo "FAIL: $*" >&2; fail=1; }
expect() {  # WHAT GOT WANTED...
  local what="$1" got="$2"; shift 2
  [[ " $* " == *" $got "* ]] || no "$what ended with $got, expected $*"
}
# Where Wine falls short of Windows: Windows' value, Wine's and why; here
# everything runs under Wine, so Wine's, said in the output.
wine_differs() { echo "todo_wine: $3" >&2; echo "$2"; }
build norza-driver-setup norza.inf
build missing-inf missing.inf
build overlong-inf "$(printf 'n%.0s' $(seq 200)).inf"

expect "the installer" "$(run norza-driver-setup)" 0 3010
copies="$(stored_copies | wc -l)"
[ "$copies" -eq 1 ] || no "$copies copies of the package in the driver store, expected 1"
# The uninstaller runs in place (_?=) and takes its registration with it.
instdir="$(installed)"
if [ -z "$instdir" ]; then
  no "no uninstaller was written"
else
  wine_run "$instdir/uninstall.exe" /S "_?=$(windows_path "$instdir")" || no "the uninstaller failed"
fi
# A failed InstallDev ends the installer with its error: the file is not
# found (2), or a name longer than tambrel.dll takes is refused (87).
expect "the installer of a missing INF" "$(run missing-inf)" \
  "$(wine_differs 2 0 "Wine's driver update answers TRUE for an INF that does not exist")"
expect "the installer of an overlong INF name" "$(run overlong-inf)" 87

# The device helper takes its folder with it.
left="$(ls -d "$NORZA_WINE_PREFIX"/drive_c/windows/temp/norza-* "$NORZA_WINE_PREFIX"/drive_c/users/*/Temp/norza-* \
  "$NORZA_WINE_PREFIX"/drive_c/users/*/AppData/Local/Temp/norza-* 2>/dev/null || true)"
[ -z "$left" ] || no "the helper left $left behind"
if [ $confirming -eq 1 ]; then
  log="$(tr -d '\r' < "$work/class_installer.dll.log" 2>/dev/null || true)"
  echo "class installer: $(echo "$log" | tr '\n' ' ')"
  grep -qx pressed <<< "$log" || no "the class installer's confirmation was not pressed"
  if [ "$target" = x86-unicode ]; then
    grep -qix 'folder held: C:\\windows\\temp\\norza-[0-9a-f]\{16\}' <<< "$log" ||
      no "the helper's folder is not held under the Windows temporary folder"
  fi
fi
exit "$fail"
