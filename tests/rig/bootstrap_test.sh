#!/usr/bin/env bash
# scripts/bootstrap on a day the package registry is partly out of step,
# against stand-ins for apt-get and dpkg (first on PATH): an index refresh
# that keeps failing, and a 32-bit Wine that installs only with the installed
# versions kept, or not at all.
#   bootstrap_test.sh BOOTSTRAP WORK_DIR
set -uo pipefail
bootstrap="$1" work="$2"
rm -rf "$work" && mkdir -p "$work/bin"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" > "$work/bin/$1"; chmod +x "$work/bin/$1"; }
stand_in dpkg-query 'exit 1'
stand_in dpkg 'echo i386'
stand_in sudo 'exec "$@"'
stand_in sleep 'echo "sleep $*" >> "$LOG"'
stand_in apt-get 'echo "apt-get $*" >> "$LOG"
[ "$1" = update ] && { echo "E: Failed to fetch http://mirror/dists/x-security/main/binary-i386/Packages.xz  File has unexpected size"; exit 100; }
case "$* " in *" cmake "*) [ "$REFUSE" = base ] && { echo "E: Unable to locate package cmake"; exit 100; } ;; esac
case "$*" in *Dir::Etc::Preferences=*) a="$*"; p="${a#*Preferences=}"; cat "${p%% *}" >> "$LOG"; [ "$REFUSE" != all32 ] && exit 0 ;; esac
case "$*" in *wine32:i386*) [ "$REFUSE" != none ] && { echo "E: Unable to correct problems, you have held broken packages."; exit 100; } ;; esac
exit 0'

fail=0
run() {  # run REFUSE WANT-CODE LAST-LINE-PATTERN LOG-PATTERN...
  local refuse="$1" want="$2" last="$3" out got; shift 3
  export LOG="$work/$refuse.log" REFUSE="$refuse"
  out="$(PATH="$work/bin:$PATH" "$bootstrap" 2>&1)"; got=$?
  if [ "$got" != "$want" ] || ! tail -n 1 <<< "$out" | grep -q -- "$last"; then
    echo "FAIL ($refuse): exit $got, output:"; echo "$out"; fail=1
  fi
  grep -q 'update failed 3 times (http://mirror/dists/x-security/main/binary-i386/Packages.xz)' <<< "$out" ||
    { echo "FAIL ($refuse): the failed index is not named"; fail=1; }
  for p in "$@"; do grep -q -- "$p" "$LOG" || { echo "FAIL ($refuse): '$p' not in the calls:"; cat "$LOG"; fail=1; }; done
}
run wine32 0 'versions kept' 'sleep 5' 'Pin: release n=.*-security' 'Pin-Priority: 99'
[ "$(grep -c '^apt-get update' "$work/wine32.log")" = 3 ] || { echo "FAIL: apt-get update not tried 3 times"; fail=1; }
run all32 0 '32-bit Wine could not be installed (Unable to correct problems' 'install .*cmake'
run base 1 'could not install cmake.*: Unable to locate package cmake'
exit $fail
