#!/usr/bin/env bash
# Makes the release package from the built tree, signed with a throwaway
# certificate, unpacks it and checks what a vendor gets: the listed files,
# matching SHA256SUMS; each binary within its size limit, and a package past
# one refused; relocations kept for ASLR; intact SHA-256 signatures, also on the device helper that the
# 32-bit binaries unpack (the 64-bit ones carry none); no symbol tables; import
# libraries that link (lld-link stands in for the Microsoft linker); and, on
# the 32-bit build, a packaged tambrel.dll that an NSIS installer uses.
#   package_test.sh BUILD_DIR WORK_DIR OBJDUMP MINGW_CC LLD_LINK CLANG_TARGET [MAKENSIS]
set -euo pipefail
build="$1" work="$2" objdump="$3" mingw_cc="$4" lld_link="$5" clang_target="$6" makensis="${7:-}"
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work" && mkdir -p "$work" && cd "$work"

# Self-signed: verifying against it shows each signature and digest intact,
# but the chain ends at this test's own certificate, not a real authority.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Norza test" -days 1 -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout pass:test-only
export NORZA_SIGN_PFX="$work/signer.pfx" NORZA_SIGN_PASSWORD=test-only
# The build signs the device helper it embeds (as the package target does
# before packing); the package step signs the binaries.
cmake --build "$build" > build.txt 2>&1 || { cat build.txt; exit 1; }
cpack --config "$build/CPackConfig.cmake" -B out | tee cpack.txt
cmake -E tar xf out/Norza-*.zip && cd Norza-*/

fail=0
no() { echo "FAIL: $*" >&2; fail=1; }
found="$(find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs)"
[ "$found" = "SHA256SUMS bin/kelvane.exe bin/tambrel.dll docs/installer-guide.md include/tambrel.h lib/libtambrel.dll.a lib/tambrel.lib" ] ||
  no "the package holds: $found"
[ "$(wc -l < SHA256SUMS)" -eq 6 ] && sha256sum --strict -c SHA256SUMS || no "SHA256SUMS does not match"
for f in bin/*; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$f" > "$work/verify.txt" 2>&1 &&
    grep -q "^Message digest algorithm  : SHA256" "$work/verify.txt" || { cat "$work/verify.txt"; no "$f: signature"; }
  "$objdump" -t "$f" | grep -q "^no symbols" && ! "$objdump" -h "$f" | grep -q "\.debug" || no "$f keeps symbols"
  # Made smaller, never by giving up ASLR: the relocations stay.
  "$objdump" -p "$f" | grep -c DYNAMIC_BASE > /dev/null && "$objdump" -h "$f" | grep -c " \.reloc " > /dev/null ||
    no "$f: not relocatable"
done

# The 32-bit binaries carry the helper they start on 64-bit Windows: signed
# by the build before it was packed and embedded. The installer library
# never asks for consent.
if [[ "$clang_target" == i686* ]]; then
  helper="$build/generated/embedded/norza-device-helper.exe"
  osslsigncode verify -CAfile "$work/cert.pem" -in "$helper" > "$work/verify.txt" 2>&1 &&
    grep -q "^Message digest algorithm  : SHA256" "$work/verify.txt" || { cat "$work/verify.txt"; no "helper: signature"; }
else
  # The 64-bit binaries make their device calls themselves and carry no
  # program: the control panel asks consent for itself.
  for f in bin/kelvane.exe bin/tambrel.dll; do
    python3 -c 'import sys; sys.exit(open(sys.argv[1], "rb").read().count(b"This program cannot be run in DOS mode") != 1)' \
      "$f" || no "$f carries another program"
  done
fi
! "$objdump" -p bin/tambrel.dll | grep -q ShellExecute || no "tambrel.dll imports ShellExecute"

# Sizes as built, before signing, each against its limit.
limits="bin/kelvane.exe=290000 bin/tambrel.dll=39987"
[[ "$clang_target" == i686* ]] && limits="bin/kelvane.exe=310000 bin/tambrel.dll=50000 norza-device-helper.exe=30000"
for l in $limits; do
  grep -Eq "^-- ${l%=*}( \(.*\))?: [0-9]+ bytes \([0-9]+ KiB\) before signing, at most ${l#*=}, signed$" "$work/cpack.txt" ||
    no "report: ${l%=*} against ${l#*=}"
done
# A binary at its limit is packed; one byte past it, the package is refused.
mkdir -p "$work/stage/bin" && cp bin/tambrel.dll "$work/stage/bin/"
stage() {
  env -u NORZA_SIGN_PFX cmake -DCPACK_TEMPORARY_DIRECTORY="$work/stage" "-DCPACK_NORZA_SIZE_LIMITS=bin/tambrel.dll;$1" \
    -P "$here/../../../cmake/NorzaPackageStage.cmake" > "$work/stage.txt" 2>&1
}
size="$(stat -c %s bin/tambrel.dll)"
stage "$size" || { cat "$work/stage.txt"; no "a binary at its limit is refused"; }
! stage $((size - 1)) && grep -q "Past the size limit: bin/tambrel.dll" "$work/stage.txt" || no "a binary past its limit is packed"

"$mingw_cc" -Iinclude -Wl,--disable-stdcall-fixup "$here/import_caller.c" lib/libtambrel.dll.a -o bin/mingw_caller.exe
clang --target="$clang_target" -Iinclude -c "$here/import_caller.c" -o "$work/caller.obj"
"$lld_link" /nologo /nodefaultlib /entry:main "$work/caller.obj" lib/tambrel.lib /out:bin/msvc_caller.exe
# What follows runs the packaged library under Wine: where it is 32-bit and
# this machine runs no 32-bit code, the checks above stand and the rest is skipped (77).
if ! why="$("$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" --check bin/tambrel.dll)"; then
  echo "skipped: the callers of the packaged tambrel.dll and its NSIS installer are 32-bit, and this machine runs none ($why)"
  [ "$fail" -ne 0 ] && exit "$fail"; exit 77
fi
# The helper each 32-bit binary unpacks, as it unpacks it, is the signed one.
if [[ "$clang_target" == i686* ]]; then
  for f in kelvane.exe tambrel.dll; do
    "$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" \
      "$build/tests/e2e/package/norza_unpack_helper.exe" "bin/$f" "../unpacked-$f" && cmp -s "../unpacked-$f" "$helper" &&
      osslsigncode verify -CAfile "$work/cert.pem" -in "../unpacked-$f" > "$work/verify.txt" 2>&1 ||
      { cat "$work/verify.txt"; no "$f: the helper it unpacks is not the signed one"; }
  done
fi
for exe in mingw_caller msvc_caller; do
  "$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" "bin/$exe.exe" || no "$exe: wrong answers"
done
if [ -n "$makensis" ]; then
  nsis="$here/../installer/nsis"
  "$nsis/run_nsis_probe.sh" "$makensis" "$nsis/tambrel_probe.nsi" "$PWD/bin/tambrel.dll" "$work/nsis" || no "NSIS probe"
fi
exit "$fail"
