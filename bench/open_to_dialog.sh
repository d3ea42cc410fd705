#!/usr/bin/env bash
# Figures, not a test: the 32-bit control panel's open-to-dialog in a 32-bit
# and in a 64-bit Wine prefix (the same binary; in the 64-bit one its opening
# switch runs in the device helper), and its opening on the simulated machine
# with the functions already in the stored mode and out of it.
#
#   bench/open_to_dialog.sh [kelvane.exe] [runs]
#
# Build first (cmake --preset windows-x86 && cmake --build --preset windows-x86).
# Another kelvane.exe (an older build, say) can be measured the same way.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/windows-x86"
cmake --build --preset windows-x86 --target open_to_dialog_bench opening_in_step_bench kelvane >/dev/null
kelvane="$(realpath "${1:-$build/controlpanel/kelvane.exe}")"
runs="${2:-10}"
run=cmake/wine-run

for arch in win32 win64; do
  prefix="$build/wineprefix"
  [ "$arch" = win64 ] && prefix="$build/wineprefix64"
  "$run" --prefix "$prefix" --arch "$arch" --start
  "$run" --prefix "$prefix" --arch "$arch" "$build/bench/windows/open_to_dialog_bench.exe" "$kelvane" "$runs" || true
  if [ "$arch" = win32 ]; then
    "$run" --prefix "$prefix" --arch "$arch" "$build/bench/windows/opening_in_step_bench.exe" \
      "$build/controlpanel/kelvane.exe" 200 || true
  fi
  "$run" --prefix "$prefix" --arch "$arch" --stop
done
