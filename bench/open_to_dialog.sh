#!/usr/bin/env bash
# Figures, not a test: the 32-bit control panel's open-to-dialog in a 32-bit
# and in a 64-bit Wine prefix (the same binary; in the 64-bit one its opening
# switch runs in the device helper), and its opening on the simulated machine
# with the functions already in the stored mode and out of it. On a machine
# that runs no 32-bit code, the 64-bit panel's in a 64-bit prefix, and the
# rest is named as skipped.
#
#   bench/open_to_dialog.sh [kelvane.exe] [runs]
#
# Build first (cmake --preset windows-x86 && cmake --build --preset windows-x86).
# Another kelvane.exe (an older build, say) can be measured the same way.
set -euo pipefail
cd "$(dirname "$0")/.."
run=cmake/wine-run
preset=windows-x86 arches="win32 win64"
if ! why="$("$run" --prefix build/windows-x86/wineprefix --arch win32 --check)"; then
  echo "skipped: the 32-bit panel (open-to-dialog in a 32-bit and a 64-bit prefix, opening on the simulated" \
       "machine): this machine runs no 32-bit Windows programs ($why). Measured instead: the 64-bit panel."
  preset=windows-x64 arches=win64
  cmake --preset windows-x64 >/dev/null
fi
build="$PWD/build/$preset"
cmake --build --preset "$preset" --target open_to_dialog_bench opening_in_step_bench kelvane >/dev/null
kelvane="$(realpath "${1:-$build/controlpanel/kelvane.exe}")"
runs="${2:-10}"

for arch in $arches; do
  # The build's own prefix of that arch, as its tests use it.
  prefix="$build/wineprefix"
  [ "$preset/$arch" = windows-x86/win64 ] && prefix="$build/wineprefix64"
  "$run" --prefix "$prefix" --arch "$arch" --start
  if skip="$("$run" --prefix "$prefix" --arch "$arch" --check "$kelvane")"; then
    "$run" --prefix "$prefix" --arch "$arch" "$build/bench/windows/open_to_dialog_bench.exe" "$kelvane" "$runs" || true
  else
    echo "skipped: open-to-dialog of $kelvane, a 32-bit program ($skip)"
  fi
  if [ "$arch" = "${arches%% *}" ]; then
    "$run" --prefix "$prefix" --arch "$arch" "$build/bench/windows/opening_in_step_bench.exe" \
      "$build/controlpanel/kelvane.exe" 200 || true
  fi
  "$run" --prefix "$prefix" --arch "$arch" --stop
done
