#!/usr/bin/env bash
# Makes the release package from the built tree as the vendor does and checks
# what comes out:
#  - unsigned: its name and RELEASE.txt say so, the binaries as built equal
#    their twins, and (x64) a build of the same sources in another folder
#    gives the same zip, byte for byte;
#  - signed through a real PKCS#11 token (SoftHSM2, a key made on it, a chain
#    root -> intermediate -> code-signing leaf) and time-stamped by a local
#    RFC 3161 server, and again through an outside signing command: every
#    binary (and the device helper the 32-bit ones carry) verifies against the
#    root, is signed by the leaf, names its file; the size report says which
#    bytes are the signatures'; RELEASE.txt names the signer;
#  - a PKCS#12 file signs too; two ways at once, or a time-stamping server that
#    does not answer, stop the build;
#  - the listed files, matching SHA256SUMS, the guide for the package's
#    bitness; sizes within their limits and a binary one byte past refused;
#    relocations kept for ASLR; no symbol tables; import libraries that link
#    (lld-link stands in for the Microsoft linker); on the 32-bit build, the
#    helper each binary unpacks is the signed one; and the packaged
#    tambrel.dll serves the guide's NSIS installer sample.
#   package_test.sh BUILD_DIR WORK_DIR OBJDUMP MINGW_CC LLD_LINK CLANG_TARGET [MAKENSIS NORZA_DEVICES]
set -euo pipefail
build="$1" work="$2" objdump="$3" mingw_cc="$4" lld_link="$5" clang_target="$6" makensis="${7:-}" devices="${8:-}"
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../../.." && pwd)"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
x86=0
[[ "$clang_target" == i686* ]] && x86=1
fail=0
no() { echo "FAIL: $*" >&2; fail=1; }
unset NORZA_SIGN_PKCS11_MODULE NORZA_SIGN_PKCS11_KEY NORZA_SIGN_CERTS NORZA_SIGN_PIN NORZA_SIGN_COMMAND \
  NORZA_SIGN_PFX NORZA_SIGN_PASSWORD NORZA_SIGN_TIMESTAMP_URL NORZA_SIGN_URL

# The chain, made here: root -> intermediate -> the code-signing leaf, whose
# key is generated on the token and never leaves it; a TSA certificate too.
ca() {  # NAME SUBJECT ISSUER EXTENSIONS [KEY_ARGS...]: NAME.pem signed by ISSUER (self when "")
  local name="$1" subject="$2" issuer="$3" ext="$4"; shift 4
  printf '%b' "$ext" > "$name.ext"
  [ $# -gt 0 ] || set -- -newkey rsa:2048 -nodes -keyout "$name.key"
  openssl req -new -subj "$subject" -out "$name.csr" "$@" 2>/dev/null
  if [ -z "$issuer" ]; then
    openssl x509 -req -in "$name.csr" -signkey "$name.key" -days 2 -extfile "$name.ext" -out "$name.pem" 2>/dev/null
  else
    openssl x509 -req -in "$name.csr" -CA "$issuer.pem" -CAkey "$issuer.key" -CAcreateserial -days 2 \
      -extfile "$name.ext" -out "$name.pem" 2>/dev/null
  fi
}
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir tokens && printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/tokens" > "$SOFTHSM2_CONF"
module=/usr/lib/softhsm/libsofthsm2.so
printf 'test-pin' > pin
softhsm2-util --init-token --free --label norza-test --pin test-pin --so-pin test-so-pin > /dev/null
pkcs11-tool --module "$module" --token-label norza-test --login --pin test-pin --keypairgen --key-type rsa:2048 \
  --id 01 --label signing > /dev/null 2>&1
key="pkcs11:token=norza-test;object=signing;type=private"
ca root "/CN=Norza Test Root" "" 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n'
ca intermediate "/CN=Norza Test Intermediate" root \
  'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n'
ca leaf "/O=Quorvin Test/CN=Quorvin Test Code Signing" intermediate \
  'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  -engine pkcs11 -keyform engine -key "$key;pin-value=test-pin"
ca tsa "/CN=Norza Test Time-Stamping" intermediate \
  'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
cat leaf.pem intermediate.pem > chain.pem
cat intermediate.pem root.pem > tsa-chain.pem
leaf_hash="$(openssl x509 -in leaf.pem -outform DER | sha256sum | cut -c1-64)"
python3 "$here/tsa_server.py" tsa.pem tsa.key tsa-chain.pem "$work" > tsa.port &
tsa=$!
trap 'kill $tsa 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s tsa.port ] && break; sleep 0.1; done

# Builds in this environment (the helper inside the 32-bit binaries is signed
# by the build) and packs into out-NAME, unpacked in NAME/.
package() {
  cmake --build "$build" > "build-$1.txt" 2>&1 || { cat "build-$1.txt"; exit 1; }
  cpack --config "$build/CPackConfig.cmake" -B "out-$1" > "cpack-$1.txt" 2>&1 || { cat "cpack-$1.txt"; exit 1; }
  mkdir "$1" && (cd "$1" && cmake -E tar xf ../out-$1/Norza-*.zip)
}
# A signed file: verifies against the test's root, signed by the leaf, named DESCRIPTION, time-stamped.
signed() {  # FILE DESCRIPTION
  osslsigncode verify -CAfile "$work/root.pem" -TSA-CAfile "$work/root.pem" -require-leaf-hash "sha256:$leaf_hash" \
    -in "$1" > "$work/verify.txt" 2>&1 && grep -q "^Message digest algorithm  : SHA256" "$work/verify.txt" &&
    grep -q "Text description: $2$" "$work/verify.txt" && grep -q "Timestamp time:" "$work/verify.txt" ||
    { cat "$work/verify.txt"; no "$1: signature"; }
}
descriptions="kelvane.exe=Norza Driver Control Panel;tambrel.dll=Norza Silent Driver Installer"
helper="$build/generated/embedded/norza-device-helper.exe"  # as the 32-bit binaries embed it

# Unsigned: says so; the same bytes from another folder.
package unsigned
[ -f out-unsigned/Norza-*-unsigned.zip ] && grep -q "^Signed: *NO" unsigned/*/RELEASE.txt || no "unsigned package not named so"
if [ $x86 -eq 1 ]; then
  for f in controlpanel/kelvane.exe installer/tambrel.dll; do
    cmp "$build/$f" "$build/as-built/${f#*/}" || no "$f differs from its twin as built"
  done
else
  toolchain="$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")"
  cmake -S "$source_dir" -B rebuild -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF > rebuild.txt 2>&1 && cmake --build rebuild --target package >> rebuild.txt 2>&1 ||
    { cat rebuild.txt; no "the rebuild failed"; }
  for f in controlpanel/kelvane.exe installer/tambrel.dll import/libtambrel.dll.a import/tambrel.lib; do
    cmp "$build/$f" "rebuild/$f" || no "$f differs when built in another folder"
  done
  cmp out-unsigned/Norza-*.zip rebuild/Norza-*.zip || no "the package differs when built in another folder"
fi

# Through the token, time-stamped.
export NORZA_SIGN_PKCS11_MODULE="$module" NORZA_SIGN_PKCS11_KEY="$key" NORZA_SIGN_CERTS="$work/chain.pem"
export NORZA_SIGN_PIN=test-pin NORZA_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat tsa.port)"
package token
[ $x86 -eq 0 ] || cp "$helper" helper-token.exe  # the one the token's package carries
# The other ways: an outside command, then a PKCS#12 file (the helper's copy alone).
unset NORZA_SIGN_PKCS11_MODULE NORZA_SIGN_PKCS11_KEY NORZA_SIGN_PIN
printf '#!/bin/sh\nosslsigncode sign -pkcs11module "$1" -key "$2" -certs "$3" -readpass "$4" -h sha256 -n "$NORZA_SIGN_DESCRIPTION" -in "$5" -out "$5.new" > /dev/null && mv "$5.new" "$5"\n' > sign.sh
chmod +x sign.sh
export NORZA_SIGN_COMMAND="$work/sign.sh $module '$key' $work/chain.pem $work/pin"
package command
unset NORZA_SIGN_COMMAND NORZA_SIGN_CERTS
ca pfx-leaf "/CN=Quorvin Test File Key" root 'extendedKeyUsage=codeSigning\n'
openssl pkcs12 -export -inkey pfx-leaf.key -in pfx-leaf.pem -out signer.pfx -passout pass:test-only
own_helper="$build/devicehelper/norza-device-helper.exe"  # the x86 build's is its 64-bit sub-build's
[ $x86 -eq 0 ] || own_helper="$build/device-helper-x64/devicehelper/norza-device-helper.exe"
sign_copy() {
  cmake -DIN="$own_helper" -DOUT="$work/helper-$1.exe" -DDESCRIPTION="Norza Device Helper" \
    -DOSSLSIGNCODE="$(command -v osslsigncode)" -DOPENSSL="$(command -v openssl)" -P "$source_dir/cmake/NorzaSign.cmake"
}
NORZA_SIGN_PFX="$work/signer.pfx" NORZA_SIGN_PASSWORD=test-only sign_copy pfx > pfx.txt 2>&1 &&
  osslsigncode verify -CAfile root.pem -TSA-CAfile root.pem -in helper-pfx.exe | grep -q "Text description: Norza Device Helper" ||
  { cat pfx.txt; no "signing with a PKCS#12 file"; }
! NORZA_SIGN_PFX="$work/signer.pfx" NORZA_SIGN_COMMAND=true sign_copy both > both.txt 2>&1 &&
  tr -s ' \n' ' ' < both.txt | grep -q "More than one way to sign is set (NORZA_SIGN_COMMAND, NORZA_SIGN_PFX)" ||
  { cat both.txt; no "two ways to sign at once"; }
! NORZA_SIGN_PFX="$work/signer.pfx" NORZA_SIGN_PASSWORD=test-only NORZA_SIGN_TIMESTAMP_URL=http://127.0.0.1:1 \
  sign_copy silent > silent.txt 2>&1 && grep -q "did not answer 3 times" silent.txt || { cat silent.txt; no "no time-stamp"; }
unset NORZA_SIGN_TIMESTAMP_URL

# The helper's version resource: it says what it is, as the other two do.
python3 -c 'import sys; sys.exit("Norza Device Helper".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
  "$own_helper" || no "the helper has no description"
for way in token command; do
  cd "$work/$way"/Norza-*/
  [ "$(basename "$PWD")" = "$(basename "$work"/out-$way/Norza-*.zip .zip)" ] && [[ "$PWD" != *-unsigned ]] || no "$way: name"
  found="$(find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs)"
  [ "$found" = "CHANGELOG.md RELEASE.txt SHA256SUMS bin/kelvane.exe bin/tambrel.dll docs/examples/norza-setup.iss docs/examples/norza-setup.nsi docs/installer-guide.md include/tambrel.h lib/libtambrel.dll.a lib/tambrel.lib" ] ||
    no "$way: the package holds: $found"
  [ "$(wc -l < SHA256SUMS)" -eq 10 ] && sha256sum --strict -c SHA256SUMS > /dev/null || no "$way: SHA256SUMS does not match"
  grep -q "^ *$(openssl x509 -in "$work/leaf.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')$" RELEASE.txt &&
    grep -q "CN=Quorvin Test Code Signing,O=Quorvin Test" RELEASE.txt && grep -q "^Built from: *commit [0-9a-f]\{40\}" RELEASE.txt ||
    no "$way: RELEASE.txt does not name the signer and commit"
  for f in bin/*; do
    signed "$f" "$(tr ';' '\n' <<< "$descriptions" | sed -n "s/^${f#bin/}=//p")"
    # (grep -c: the whole dump is read, so objdump never writes into a closed pipe)
    "$objdump" -t "$f" | grep -c "^no symbols" > /dev/null && ! "$objdump" -h "$f" | grep -c "\.debug" > /dev/null ||
      no "$f keeps symbols"
    # Made smaller, never by giving up ASLR: the relocations stay.
    "$objdump" -p "$f" | grep -c DYNAMIC_BASE > /dev/null && "$objdump" -h "$f" | grep -c " \.reloc " > /dev/null ||
      no "$f: not relocatable"
  done
done
cd "$work/token"/Norza-*/
bits=64 other=32
[ $x86 -eq 1 ] && bits=32 other=64
grep -q "is the \*\*$bits-bit\*\* one" docs/installer-guide.md && ! grep -q "is the \*\*$other-bit\*\* one" docs/installer-guide.md &&
  ! grep -q "<!-- package:" docs/installer-guide.md || no "the guide is not the $bits-bit installers' one"

# The 32-bit binaries carry the helper they start on 64-bit Windows, signed
# by the build before it was packed and embedded.
if [ $x86 -eq 1 ]; then
  signed "$work/helper-token.exe" "Norza Device Helper"
else
  # The 64-bit binaries make their device calls themselves and carry no
  # program: the control panel asks consent for itself.
  for f in bin/kelvane.exe bin/tambrel.dll; do
    python3 -c 'import sys; sys.exit(open(sys.argv[1], "rb").read().count(b"This program cannot be run in DOS mode") != 1)' \
      "$f" || no "$f carries another program"
  done
fi
! "$objdump" -p bin/tambrel.dll | grep -c ShellExecute > /dev/null || no "tambrel.dll imports ShellExecute"

# Sizes as built, each against its limit; what signing added, never judged.
limits="bin/kelvane.exe=290000 bin/tambrel.dll=39987"
[ $x86 -eq 1 ] && limits="bin/kelvane.exe=314000 bin/tambrel.dll=50000 norza-device-helper.exe=30000"
for l in $limits; do
  grep -Eq "^-- ${l%=*}( \(.*\))?: [0-9]+ bytes \([0-9]+ KiB\) as built, at most ${l#*=}$" "$work/cpack-token.txt" ||
    no "report: ${l%=*} against ${l#*=}"
done
helper_part=""
[ $x86 -eq 1 ] && helper_part=", the embedded helper's [0-9]+"
for f in bin/kelvane.exe bin/tambrel.dll; do
  grep -Eq "^-- $f: $(stat -c %s "$f") bytes signed: signing added [0-9]+ \(its own signature [0-9]+$helper_part\)$" \
    "$work/cpack-token.txt" || no "report: what signing added to $f"
done
# A binary at its limit is packed; one byte past it, the package is refused.
mkdir -p "$work/stage/bin" && cp bin/tambrel.dll "$work/stage/bin/"
stage() {
  cmake -DCPACK_TEMPORARY_DIRECTORY="$work/stage" "-DCPACK_NORZA_SIZE_LIMITS=bin/tambrel.dll;$1" \
    -P "$source_dir/cmake/NorzaPackageStage.cmake" > "$work/stage.txt" 2>&1
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
if [ $x86 -eq 1 ]; then
  for f in kelvane.exe tambrel.dll; do
    "$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" \
      "$build/tests/e2e/package/norza_unpack_helper.exe" "bin/$f" "$work/unpacked-$f" &&
      cmp -s "$work/unpacked-$f" "$work/helper-token.exe" ||
      no "$f: the helper it unpacks is not the signed one"
  done
fi
for exe in mingw_caller msvc_caller; do
  "$NORZA_WINE_RUN" --prefix "$NORZA_WINE_PREFIX" --arch "$NORZA_WINE_ARCH" "bin/$exe.exe" || no "$exe: wrong answers"
done
if [ -n "$makensis" ]; then
  nsis_target=amd64-unicode
  [ $x86 -eq 0 ] || nsis_target=x86-unicode
  "$here/../installer/nsis/run_nsis_sample.sh" "$makensis" $nsis_target "$PWD/bin/tambrel.dll" "$work/nsis" "$devices" ||
    no "the NSIS installer sample"
fi
exit "$fail"
