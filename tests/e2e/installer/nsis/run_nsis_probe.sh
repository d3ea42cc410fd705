#!/usr/bin/env bash
# Builds the NSIS probe installer around tambrel.dll, runs it silently under
# Wine (the environment comes from norza_add_command_test) and checks what it
# recorded and what landed in the prefix's driver store.
#   run_nsis_probe.sh MAKENSIS SCRIPT TAMBREL_DLL WORK_DIR
set -euo pipefail
makensis="$1" script="$2" dll="$3" work="$4"

rm -rf "$work"
mkdir -p "$work"
marker="norza nsis probe $$"
hwid="NORZANSIS\\VID_2F1A&PID_0107_$$"
inf="$work/norza_nsis_probe.inf"
store="$NORZA_WINE_PREFIX/drive_c/windows/inf"

printf '%s\r\n' "; $marker" '[Version]' 'Signature="$Windows NT$"' 'Class=MEDIA' \
  'ClassGuid={4d36e96c-e325-11ce-bfc1-08002be10318}' 'Provider=%Quorvin%' 'DriverVer=01/01/2026,1.0.0.0' '' \
  '[Manufacturer]' '%Quorvin%=Quorvin,NTx86' '' '[Quorvin.NTx86]' "%Desc%=NorzaInstall,$hwid" '' \
  '[NorzaInstall]' '' '[Strings]' 'Quorvin="Quorvin"' 'Desc="Norza probe device"' > "$inf"

stored_copies() { grep -l -F "$marker" "$store"/*.inf 2>/dev/null || true; }
cleanup() {
  local f
  for f in $(stored_copies); do rm -f "$f" "${f%.inf}.pnf"; done
}
trap cleanup EXIT

"$makensis" -V2 -DTAMBREL_DLL="$dll" -DPROBE_INF="$inf" -DHARDWARE_ID="$hwid" \
  -DOUTFILE="$work/tambrel_probe.exe" "$script"

"$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" "$work/tambrel_probe.exe" /S

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
expect close 1
expect count_none 0
expect count_null 0
expect install 1        # Wine's update answers TRUE when no device has the ID
expect install_long 0
expect install_null 0
expect done 1
copies="$(stored_copies | wc -l)"
if [ "$copies" -ne 1 ]; then echo "FAIL: $copies copies of the package in the driver store, expected 1" >&2; fail=1; fi
exit "$fail"
