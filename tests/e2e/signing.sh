#!/usr/bin/env bash
# Signed installers end to end.  A test certificate is made here with openssl
# (and removed again); the sample saver is packed on the x86_64 stub unsigned,
# signed by the packager, re-signed, and signed afterwards by osslsigncode on
# its own.  Each must pass `osslsigncode verify`, show its signer and a valid
# trailer in `saverpack inspect`, and install quietly under wine64; a byte
# flipped anywhere before the certificate table must stop the installer with
# -542.  E2E_ARCH=i686 does the same with the shipped i686 stub in 32-bit
# Wine (scripts/wine32), in a prefix of its own.
set -u
cd "$(dirname "$0")/../.."
root=$PWD
pass=0 fail=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAILED: $1"; fi
}

saverpack=$root/dist/linux/saverpack
if [ "${E2E_ARCH:-x86_64}" = i686 ]; then
  stub=$root/dist/win32/stub.exe
  driver=$root/build/win32/fixtures/demo_driver.exe
  standin=$root/build/win32/fixtures/flash_standin.dll
  work=$root/build/e2e-signing-i686
  # A prefix of its own: the i686 Windows tests may run in the shared one meanwhile.
  prefix=$work-prefix
  "$root/scripts/wine32" --fresh-prefix "$prefix"
  wine="$root/scripts/wine32 --prefix $prefix"
  $wine --exec /usr/lib/wine/wineserver -p  # one server for the whole run
  drive=$prefix/drive_c
else
  stub=$root/dist/win64/stub.exe
  driver=$root/build/win64/fixtures/demo_driver.exe
  standin=$root/build/win64/fixtures/flash_standin.dll
  wine=/usr/lib/wine/wine64
  export WINEPREFIX=${WINEPREFIX:-$root/.deps/wineprefix}
  drive=$WINEPREFIX/drive_c
  work=$root/build/e2e-signing
fi
export WINEDEBUG=-all
for f in "$saverpack" "$stub" "$driver" "$standin"; do
  [ -e "$f" ] || { echo "signing: missing $f (run scripts/build)"; echo "signing: 0 passed, 1 failed"; exit 1; }
done
saver="Sample Saver"
flash_key='HKCR\CLSID\{D27CDB6E-AE6D-11cf-96B8-444553540000}'
rm -rf "$work"
mkdir -p "$work"
uninstall_sample() {
  rm -rf "$drive/ProgramData/Brindlefax/$saver" "$drive/windows/system32/$saver.scr"
  $wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$saver" /f >/dev/null 2>&1
}
cleanup() {
  uninstall_sample
  $wine reg delete "$flash_key" /f >/dev/null 2>&1
  rm -rf "$work"
  if [ -n "${prefix:-}" ]; then
    $wine --exec /usr/lib/wine/wineserver -k 2>/dev/null
    rm -rf "$prefix"
  fi
}
trap cleanup EXIT

# ---- certificates (never kept) ----------------------------------------------------
printf 'signing test secret' >"$work/password"
make_certificate() {  # make_certificate NAME "SUBJECT"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "$2" \
    -keyout "$work/$1.key" -out "$work/$1.pem" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$work/$1.key" -in "$work/$1.pem" -out "$work/$1.p12" \
      -passout "file:$work/password" >/dev/null 2>&1
}
check "a test certificate is made" make_certificate author "/CN=Signing Test Author/O=Saver Tests"
check "a second test certificate is made" make_certificate other "/CN=Other Signer"

# ---- packing and signing ------------------------------------------------------------
./scripts/make-sample "$work/sample" >/dev/null
manifest=$work/sample/sample-quiet.json
check "an unsigned installer is built" "$saverpack" build "$manifest" -o "$work/unsigned.exe" --stub "$stub"
check "a signed installer is built" "$saverpack" build "$manifest" -o "$work/signed.exe" --stub "$stub" \
  --sign "$work/author.p12" --sign-password-file "$work/password"
check "no scratch files are left beside the output" test "$(ls -A "$work" | grep -c '\.tmp$')" = 0
# A stub signed on its own (SIGN_CERT in scripts/build) packs without its
# signature: the installer differs from the plain one in the checksum only.
check "the stub can be signed on its own" osslsigncode sign -pkcs12 "$work/author.p12" -readpass "$work/password" \
  -h sha256 -in "$stub" -out "$work/signed-stub.exe"
check "an installer is built on the signed stub" "$saverpack" build "$manifest" -o "$work/on-signed-stub.exe" \
  --stub "$work/signed-stub.exe"
same_but_checksum() {
  [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] && [ "$(cmp -l "$1" "$2" | wc -l)" -le 4 ]
}
check "the signed stub's signature is left out" same_but_checksum "$work/on-signed-stub.exe" "$work/unsigned.exe"
cp "$work/signed.exe" "$work/resigned.exe"
check "saverpack sign re-signs in place (password from the environment)" \
  env SAVERPACK_SIGN_PASSWORD='signing test secret' "$saverpack" sign "$work/resigned.exe" --cert "$work/author.p12"
check "osslsigncode alone signs the unsigned installer afterwards" \
  osslsigncode sign -pkcs12 "$work/other.p12" -readpass "$work/password" -h sha256 \
  -in "$work/unsigned.exe" -out "$work/other.exe"
check "a wrong password fails the build and leaves no output" bash -c \
  "printf wrong >'$work/wrong'; ! '$saverpack' build '$manifest' -o '$work/never.exe' --stub '$stub' \
   --sign '$work/author.p12' --sign-password-file '$work/wrong' && test ! -e '$work/never.exe'"

for f in signed resigned; do
  check "osslsigncode verify accepts $f.exe" osslsigncode verify -CAfile "$work/author.pem" -in "$work/$f.exe"
done
check "osslsigncode verify accepts other.exe" osslsigncode verify -CAfile "$work/other.pem" -in "$work/other.exe"

inspect_has() {  # inspect_has FILE TEXT: inspect passes and prints TEXT
  local out
  out=$("$saverpack" inspect "$1") && grep -qF -- "$2" <<<"$out"
}
for f in signed resigned; do
  check "inspect names the signer of $f.exe" inspect_has "$work/$f.exe" 'signed by "Signing Test Author"'
  check "inspect: the signature of $f.exe covers the package" inspect_has "$work/$f.exe" 'covers the whole package'
  check "inspect: the trailer of $f.exe is valid" inspect_has "$work/$f.exe" 'trailer: valid'
done
check "inspect names the other tool's signer" inspect_has "$work/other.exe" 'signed by "Other Signer"'
check "inspect: the trailer stays valid under the other tool's signature" inspect_has "$work/other.exe" 'trailer: valid'
check "inspect: the unsigned installer has no signature" inspect_has "$work/unsigned.exe" 'signature: none'
check "inspect: the unsigned installer's trailer is valid" inspect_has "$work/unsigned.exe" 'trailer: valid'

# ---- installing under wine64 ------------------------------------------------------------
# The installer takes the control only from the system folder.
mkdir -p "$drive/windows/system32/Macromed/Flash"
cp "$standin" "$drive/windows/system32/Macromed/Flash/flash_standin.ocx"
$wine reg add "$flash_key\\InprocServer32" /ve /d 'C:\windows\system32\Macromed\Flash\flash_standin.ocx' /f >/dev/null 2>&1
$wine reg add "$flash_key\\InprocServer32" /v ThreadingModel /d Apartment /f >/dev/null 2>&1
quiet_install() {  # what the driver prints as the installer's exit code
  $wine "$driver" quiet "Z:$1" 2>/dev/null | tr -d '\r' | sed -n 's/^installer exit code: //p'
}
exit_code_of() {  # the full exit code of a quiet install
  local code
  code=$(quiet_install "$1")
  # No exit code: Wine refused to start the driver (it happens by chance on a
  # loaded machine), so nothing ran; once more rules that out.
  [ -n "$code" ] || code=$(quiet_install "$1")
  echo "$code"
}
installs() {  # installs FILE: exit code 0 and the saver in place
  uninstall_sample
  [ "$(exit_code_of "$1")" = 0 ] && [ -f "$drive/windows/system32/$saver.scr" ] &&
    [ -d "$drive/ProgramData/Brindlefax/$saver" ]
}
for f in unsigned signed resigned other; do
  check "$f.exe installs quietly" installs "$work/$f.exe"
done

# Offsets: the certificate table, from the PE header's entry.
cert_offset=$(python3 - "$work/signed.exe" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read(4096)
pe = struct.unpack_from('<I', d, 0x3C)[0]
opt = pe + 24
magic = struct.unpack_from('<H', d, opt)[0]
print(struct.unpack_from('<I', d, opt + (112 if magic == 0x20B else 96) + 32)[0])
PY
)
size=$(stat -c %s "$work/signed.exe")
flipped() {  # flipped OFFSET: -542 for a copy of signed.exe with that byte changed
  cp "$work/signed.exe" "$work/flipped.exe"
  python3 - "$work/flipped.exe" "$1" <<'PY'
import sys
path, at = sys.argv[1], int(sys.argv[2])
with open(path, 'r+b') as f:
    f.seek(at); b = f.read(1); f.seek(at); f.write(bytes([b[0] ^ 0x5A]))
PY
  uninstall_sample
  [ "$(exit_code_of "$work/flipped.exe")" = -542 ] && [ ! -e "$drive/windows/system32/$saver.scr" ]
}
# In the stub's code, the package header, the middle of the package, the last
# package byte, the trailer's CRC, its marker's last byte.
for at in 4096 691210 $((cert_offset / 2 + 345600)) $((cert_offset - 17)) $((cert_offset - 16)) $((cert_offset - 1)); do
  check "a flipped byte at $at of $cert_offset gives -542" flipped "$at"
done
check "the certificate table ends the file" test "$size" -gt "$cert_offset"

echo "signing: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
