#!/usr/bin/env bash
# cmake/wine-run on a machine that runs no 32-bit code (NORZA_WINE_NO32=1):
# what needs 32-bit code is skipped (77) with the reason, and starts nothing;
# a 64-bit program is let through. Without 32-bit Wine, and where the kernel
# refuses its loader, the reason and the remedy are each their own.
# Without Wine: the programs are bare PE headers.
#   wine_run_no32_test.sh WINE_RUN WORK_DIR
set -uo pipefail
wine_run="$1" work="$2"
rm -rf "$work" && mkdir -p "$work"
export NORZA_WINE_NO32=1
pe() { { printf 'MZ'; head -c 58 /dev/zero; printf '\100\0\0\0PE\0\0'; printf "$2"; } > "$work/$1"; }
pe x86.exe '\114\001'
pe x64.exe '\144\206'

fail=0
expect() {  # expect CODE OUTPUT-PATTERN ARGS...
  local want="$1" pattern="$2" out got; shift 2
  out="$("$wine_run" "$@" 2>&1)"; got=$?
  if [ "$got" != "$want" ] || ! grep -q -- "$pattern" <<< "$out"; then
    echo "FAIL: wine-run $* gave $got, '$out'; expected $want, '$pattern'"; fail=1
  fi
}
expect 77 'prefix .*/p32 is 32-bit.*NORZA_WINE_NO32=1 is set' --prefix "$work/p32" --arch win32 --start
expect 77 'kept for 32-bit programs' --prefix "$work/p64" --arch win64 --wow64 --start
expect 77 'x86.exe is a 32-bit program' --prefix "$work/p64" --arch win64 "$work/x86.exe"
expect 77 '^NORZA_WINE_NO32=1 is set$' --prefix "$work/p64" --arch win64 --check "$work/x86.exe"
expect 0 '' --prefix "$work/p64" --arch win64 --check "$work/x64.exe"
for made in p32 p64 p32.session p64.session; do
  [ ! -e "$work/$made" ] || { echo "FAIL: $made was made"; fail=1; }
done
unset NORZA_WINE_NO32
printf '\177ELF\2\1\1\0' > "$work/refused" && chmod +x "$work/refused"
NORZA_WINE_LOADER32="$work/none" expect 77 '^32-bit Wine is not installed.*: scripts/bootstrap installs it' \
  --prefix "$work/p32" --arch win32 --check
NORZA_WINE_LOADER32="$work/refused" expect 77 \
  '^the kernel refuses the 32-bit Wine loader.*(Exec format error): a kernel with 32-bit support' \
  --prefix "$work/p32" --arch win32 --check
exit $fail
