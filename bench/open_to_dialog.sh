#!/usr/bin/env bash
# Figures, not a test: the control panel's open-to-dialog, each against a
# minimal dialog program with the same resources in the same prefix and run
# (their ratio is what the panel adds to what its resources cost), with the
# prefix's own devices and with 500 more, when its opening's switch is
# through, and its opening on the simulated machine with the functions
# already in the stored mode and out of it. The 32-bit panel in a 32-bit and in a 64-bit Wine
# prefix (the same binary; in the 64-bit one its opening switch runs in the
# device helper), and the 64-bit panel in a 64-bit one. On a machine that
# runs no 32-bit code, the 64-bit panel alone, and the rest is named as skipped.
#
#   bench/open_to_dialog.sh [kelvane.exe] [runs] [extra devices, 500]
#
# Builds what it measures (the windows-x86 and windows-x64 presets). Another
# kelvane.exe (an older build, say) can be measured the same way, in place of
# the first panel (the 32-bit one; where no 32-bit code runs, the 64-bit one).
set -euo pipefail
cd "$(dirname "$0")/.."
run=cmake/wine-run
measured="windows-x86/win32 windows-x86/win64 windows-x64/win64"
if ! why="$("$run" --prefix build/windows-x86/wineprefix --arch win32 --check)"; then
  echo "skipped: the 32-bit panel (open-to-dialog in a 32-bit and a 64-bit prefix, opening on the simulated" \
       "machine): this machine runs no 32-bit Windows programs ($why). Measured instead: the 64-bit panel."
  measured=windows-x64/win64
fi
first="${measured%%/*}"
runs="${2:-20}" extra="${3:-500}"

built=""
for pair in $measured; do
  preset="${pair%/*}" arch="${pair#*/}"
  build="$PWD/build/$preset"
  if [[ " $built " != *" $preset "* ]]; then
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target open_to_dialog_bench opening_in_step_bench minimal_dialog kelvane >/dev/null
  fi
  kelvane="$build/controlpanel/kelvane.exe"
  [ "$preset" = "$first" ] && [ -n "${1:-}" ] && kelvane="$(realpath "$1")"
  # The build's own prefix of that arch, as its tests use it.
  prefix="$build/wineprefix"
  [ "$pair" = windows-x86/win64 ] && prefix="$build/wineprefix64"
  "$run" --prefix "$prefix" --arch "$arch" --start
  if skip="$("$run" --prefix "$prefix" --arch "$arch" --check "$kelvane")"; then
    "$run" --prefix "$prefix" --arch "$arch" "$build/bench/windows/open_to_dialog_bench.exe" "$kelvane" "$runs" \
      "$build/bench/windows/minimal_dialog.exe" "$extra" || true
  else
    echo "skipped: open-to-dialog of $kelvane, a 32-bit program ($skip)"
  fi
  if [[ " $built " != *" $preset "* ]]; then
    "$run" --prefix "$prefix" --arch "$arch" "$build/bench/windows/opening_in_step_bench.exe" \
      "$build/controlpanel/kelvane.exe" 200 || true
  fi
  "$run" --prefix "$prefix" --arch "$arch" --stop
  built="$built $preset"
done
