#!/usr/bin/env bash
# Checks the built stubs as files: exact size, PE kind, subsystem version of
# the i686 one (it must load on Windows 95 and NT 4), the embedded manifest and
# version record, ASLR and DEP flags with the base relocations ASLR needs,
# and that the i686 stub imports nothing outside the list of functions those
# systems export (tests/fixtures/stub_allowed_imports.txt), nor the i686
# sample saver (tests/fixtures/sample_saver_allowed_imports.txt in addition).
set -u
cd "$(dirname "$0")/../.."
pass=0 fail=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAILED: $1"; fi
}
imports_of() {  # lower-case dll!function, one a line
  "$1" -p "$2" | awk '/DLL Name:/ {dll = tolower($3)}
    /^\t[0-9a-f]+\t +[0-9]+  / {print dll "!" $3}' | sort -u
}
# grep -P pattern for an ASCII text stored as UTF-16LE, as version records store it
utf16() { printf '%s' "$1" | sed -e 's/[.]/\\./g' -e 's/\(\\\?.\)/\1\\x00/g'; }
has_bytes() { LC_ALL=C grep -qaP "$1" "$2"; }

for arch in win32 win64; do
  stub=dist/$arch/stub.exe
  check "$stub exists" test -f "$stub"
  check "$stub is 691200 bytes" test "$(stat -c %s "$stub" 2>/dev/null)" = 691200
  check "$stub has the requireAdministrator manifest" grep -q 'level="requireAdministrator" uiAccess="false"' "$stub"
  check "$stub has the assembly identity" grep -q 'name="RazUdez" version="1.0.0.0"' "$stub"
  check "$stub has its file description" has_bytes "$(utf16 'Screen Saver Installer')" "$stub"
  check "$stub has file version 3.8.4.0" has_bytes "$(utf16 '3.8.4.0')" "$stub"
  check "$stub has the fixed file version 3.8.4.0" has_bytes '\x08\x00\x03\x00\x00\x00\x04\x00' "$stub"
done
check "win32 stub is a PE32 i386 GUI image" bash -c "file dist/win32/stub.exe | grep -q 'PE32 executable (GUI) Intel 80386'"
check "win64 stub is a PE32+ x86-64 GUI image" bash -c "file dist/win64/stub.exe | grep -q 'PE32+ executable (GUI) x86-64'"
check "win32 manifest says X86" grep -q 'processorArchitecture="X86"' dist/win32/stub.exe
check "win64 manifest says amd64" grep -q 'processorArchitecture="amd64"' dist/win64/stub.exe
subsystem=$(i686-w64-mingw32-objdump -p dist/win32/stub.exe 2>/dev/null |
  awk '/MajorSubsystemVersion/ {major = $2} /MinorSubsystemVersion/ {minor = $2} END {print major "." minor}')
check "win32 subsystem version 4.0" test "$subsystem" = 4.0

# ASLR is only real with relocations: an image whose relocations were
# stripped (binutils drops them from -s executables unless told otherwise)
# loads at its preferred base whatever DYNAMIC_BASE says.
relocations_kept() { ! grep -q "relocations stripped" <<<"$headers"; }
for arch in win32 win64; do
  objdump=i686-w64-mingw32-objdump
  [ "$arch" = win64 ] && objdump=x86_64-w64-mingw32-objdump
  headers=$($objdump -p "dist/$arch/stub.exe" 2>/dev/null)
  dllchars=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
  check "$arch stub has DYNAMIC_BASE (ASLR)" test $((0x${dllchars:-0} & 0x40)) -ne 0
  check "$arch stub has NX_COMPAT (DEP)" test $((0x${dllchars:-0} & 0x100)) -ne 0
  # (the headers with the listing of every relocation are too long for an argument)
  check "$arch stub keeps its relocations" relocations_kept
  relocs=$(awk '/Base Relocation Directory/ {print $4}' <<<"$headers")
  check "$arch stub has a base relocation directory" test $((0x${relocs:-0})) -gt 0
  check "$arch stub has a .reloc section" bash -c "$objdump -h dist/$arch/stub.exe | grep -q ' \.reloc '"
done

unexpected=$(comm -23 <(imports_of i686-w64-mingw32-objdump dist/win32/stub.exe) \
                      <(grep -v '^#' tests/fixtures/stub_allowed_imports.txt | sort -u))
if [ -z "$unexpected" ]; then pass=$((pass + 1)); else
  fail=$((fail + 1)); echo "FAILED: imports outside the allowed list:"; echo "$unexpected" | sed 's/^/  /'
fi

# The sample saver the sample installer carries must load where the
# installer runs, too.
unexpected=$(comm -23 <(imports_of i686-w64-mingw32-objdump dist/win32/sample-saver.exe) \
                      <(cat tests/fixtures/stub_allowed_imports.txt tests/fixtures/sample_saver_allowed_imports.txt |
                        grep -v '^#' | sort -u))
if [ -s dist/win32/sample-saver.exe ] && [ -z "$unexpected" ]; then pass=$((pass + 1)); else
  fail=$((fail + 1)); echo "FAILED: sample saver imports outside the allowed lists:"; echo "$unexpected" | sed 's/^/  /'
fi

echo "stub image: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
