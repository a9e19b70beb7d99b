#!/usr/bin/env bash
# Whole installs under Wine with names outside the ANSI code page: the
# profile's local application data in "C:\users\Łukasz", the installer in
# "C:\下载\", and savers named in the scripts of code pages 1252, 1251 and
# 932.  Wine takes its code page, and the character set of Unix file names,
# from the Unix locale: the three locales are compiled into the work folder
# (LOCPATH), so nothing needs to be installed system-wide.  Each code page gets a quiet run
# through the launcher double (its reports are checked too) and an
# interactive one through demo_driver; then a name that ends in a lead byte
# must be refused.  Everything runs in a private prefix of its own.
#   STUB=... SAVERPACK=... pick other builds (the defaults are dist/'s).
#   E2E_ARCH=i686 runs the shipped i686 stub in 32-bit Wine (scripts/wine32),
#   in a prefix of its own too.
set -u
cd "$(dirname "$0")/../.."
root=$PWD
arch=${E2E_ARCH:-x86_64}
saverpack=${SAVERPACK:-$root/dist/linux/saverpack}
if [ "$arch" = i686 ]; then
  stub=${STUB:-$root/dist/win32/stub.exe}
  fixtures=$root/build/win32/fixtures
  work=$root/build/e2e-code-pages-i686
else
  stub=${STUB:-$root/dist/win64/stub.exe}
  fixtures=$root/build/win64/fixtures
  work=$root/build/e2e-code-pages
fi
pass=0 fail=0
ok() { pass=$((pass + 1)); }
bad() { fail=$((fail + 1)); echo "FAILED: $*"; }
expect_eq() {  # expect_eq WHAT ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then ok; else bad "$1: got '$2', expected '$3'"; fi
}

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$arch" = i686 ]; then
  wine="$root/scripts/wine32 --prefix $WINEPREFIX"
  wineserver="$root/scripts/wine32 --prefix $WINEPREFIX --exec /usr/lib/wine/wineserver"
else
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver
fi
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  # Xvfb picks a free display and writes its number once it takes clients.
  coproc XVFB { exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null; }
  xvfb_pid=$XVFB_PID
  display=
  read -r display <&"${XVFB[0]}" || true
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$display
fi
cleanup() {
  $wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

# (The chroot of the 32-bit Wine has these locales compiled.)
if [ "$arch" != i686 ]; then
  mkdir -p "$work/locales"
  for l in en_US ru_RU ja_JP; do localedef -i "$l" -f UTF-8 "$work/locales/$l.UTF-8" >/dev/null 2>&1; done
  export LOCPATH=$work/locales
fi
{ export LANG=en_US.UTF-8; } 2>/dev/null  # this shell itself need not know the locale
{ unset LC_ALL LC_CTYPE; } 2>/dev/null
# A new code page needs a new Wine server for the prefix.
restart_wine() { $wineserver -k 2>/dev/null; $wineserver -w 2>/dev/null; return 0; }
if [ "$arch" = i686 ]; then
  # Booting a prefix under the emulator takes long: a copy of a booted one.
  "$root/scripts/wine32" --fresh-prefix "$WINEPREFIX"
else
  $wine wineboot -i >/dev/null 2>&1 </dev/null
fi
drive=$WINEPREFIX/drive_c
$wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
# The installer takes the control only from the system folder.
mkdir -p "$drive/windows/system32/Macromed/Flash"
cp "$fixtures/flash_standin.dll" "$drive/windows/system32/Macromed/Flash/flash_standin.ocx"
$wine reg add 'HKCR\CLSID\{D27CDB6E-AE6D-11cf-96B8-444553540000}\InprocServer32' /ve /d 'C:\windows\system32\Macromed\Flash\flash_standin.ocx' /f >/dev/null
$wine reg add 'HKCR\CLSID\{D27CDB6E-AE6D-11cf-96B8-444553540000}\InprocServer32' /v ThreadingModel /d Apartment /f >/dev/null
# Names outside ASCII reach Wine through files and "utf8hex:" arguments
# (tests/fixtures decode them): Wine reads a Unix command line through the
# Unix locale, which need not be installed.
hexarg() { printf 'utf8hex:%s' "$(printf '%s' "$1" | xxd -p | tr -d '\n')"; }
# The user's local application data outside code page 1252.
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  for key in "User Shell Folders" "Shell Folders"; do
    printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\%s]\r\n' "$key"
    printf '"Local AppData"="C:\\\\users\\\\Łukasz\\\\AppData\\\\Local"\r\n\r\n'
  done
} | iconv -f UTF-8 -t UTF-16 >"$work/profile.reg"
$wine regedit /s 'Z:'"$work/profile.reg" >/dev/null 2>&1
mkdir -p "$drive/users/Łukasz/AppData/Local" "$drive/下载"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# make_installer OUT CODEPAGE SAVERNAME DATAFILE...  (data files as relative paths)
make_installer() {
  local out=$1 cp=$2 name=$3
  shift 3
  local src=$work/src
  rm -rf "$src"
  mkdir -p "$src/data"
  printf 'MZ stand-in saver' >"$src/saver.scr"
  for f in seven.ini nine.txt ten.txt; do printf '%s' "$f" >"$src/$f"; done
  printf 'FWS\x09\x0f\x00\x00\x00\x00\x00\x0c\x01\x00\x00\x00' >"$src/movie.swf"
  for f in "$@"; do
    mkdir -p "$(dirname "$src/data/$f")"
    printf '%s' "content of $f" >"$src/data/$f"
  done
  printf '{"saverName": "%s", "codePage": %s, "previewMode": "movie", "preview": "movie.swf",
    "saver": "saver.scr", "dataFolder": "data",
    "items": {"7": "seven.ini", "9": "nine.txt", "10": "ten.txt"}, "stub": "%s"}\n' "$name" "$cp" "$stub" >"$src/manifest.json"
  "$saverpack" build "$src/manifest.json" -o "$out" --no-library >/dev/null
}

# The uninstall entries, as a UTF-16 export of the whole key (one program
# start for all the values read).
export_entries() {
  rm -f "$work/entry.reg"
  $wine reg export "$uninstall_key" 'Z:'"$work/entry.reg" /y >/dev/null 2>&1 || true
}
# An entry's value in the export made last.
uninstall_value() {  # uninstall_value NAME VALUE
  [ -f "$work/entry.reg" ] || return 0
  iconv -f UTF-16 -t UTF-8 "$work/entry.reg" | tr -d '\r' |
    awk -v key="[HKEY_LOCAL_MACHINE\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\$1]" -v value="\"$2\"=" '
      /^\[/ {inside = (tolower($0) == tolower(key))}
      inside && index($0, value) == 1 {v = substr($0, length(value) + 2); sub(/"$/, "", v); gsub(/\\\\/, "\\", v); print v}'
}

# snapshot FILE: every file in drive_c with its time and size, but Wine's
# own logs and the caches of parsed INF files its services write whenever
# they get to it (a slow run saw windows/inf/input.pnf appear mid-check).
list_drive() {
  (cd "$drive" && find . -type f ! -path './windows/*.log' ! -path './windows/inf/*.pnf' -printf '%P\t%T@\t%s\n' |
    LC_ALL=C sort)
}
snapshot() { list_drive >"$1"; }
# files_since SNAPSHOT: files added or changed in drive_c since the snapshot, as C:-relative paths.
files_since() { list_drive | LC_ALL=C comm -13 "$1" - | cut -f1 | sort; }

# check_installed LABEL CP NAME SNAPSHOT DATAFILE...: what a successful run must leave, and nothing else.
check_installed() {
  local label=$1 cp=$2 name=$3 before=$4
  shift 4
  local saver="ProgramData/Brindlefax/$name"
  local expected=("windows/system32/$name.scr" "$saver/saver.dat" "$saver/seven.ini" "$saver/nine.txt" "$saver/ten.txt")
  for f in "$@"; do
    expected+=("$saver/$f")
    expect_eq "$label: $f" "$(cat "$drive/$saver/$f" 2>/dev/null)" "content of $f"
  done
  expect_eq "$label: .scr" "$(cat "$drive/windows/system32/$name.scr" 2>/dev/null)" "MZ stand-in saver"
  export_entries
  expect_eq "$label: DisplayName" "$(uninstall_value "$name" DisplayName)" "$name Screen Saver"
  expect_eq "$label: UninstallString" "$(uninstall_value "$name" UninstallString)" "C:\\windows\\system32\\$name.scr /u"
  expect_eq "$label: work folders left" "$(find "$drive/users" -path '*/Brindlefax/ZNK*' -maxdepth 6 | wc -l)" 0
  local written
  written=$(files_since "$before" | grep -v -x -F -f <(printf '%s\n' "${expected[@]}" | sort) | grep -v '^users/[^/]*/AppData/Local/Brindlefax/\?$' || true)
  expect_eq "$label: nothing written elsewhere" "$written" ""
}

remove_saver() {  # remove_saver NAME
  rm -rf "$drive/ProgramData/Brindlefax/$1" "$drive/windows/system32/$1.scr"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\%s\\%s]\r\n' "${uninstall_key#HKLM\\}" "$1" |
    sed 's/\\\\/\\/g' | iconv -f UTF-8 -t UTF-16 >"$work/remove.reg"
  $wine regedit /s 'Z:'"$work/remove.reg" >/dev/null 2>&1 || true
}

# The makeActiveSaver report's bytes (hex) as the launcher double logged them.
active_saver_report() { tr -d '\r' <"$1" | sed -n 's/^copydata 1 0 [0-9]* \(6d616b65.*\)$/\1/p' | head -n 1; }

# scenario LANG CP NAME DATAFILE...
scenario() {
  local lang=$1 cp=$2 name=$3
  shift 3
  local setup="$drive/下载/Setup.exe"
  restart_wine
  make_installer "$setup" "$cp" "$name" "$@" || { bad "$cp: the packager refused $name"; return; }

  local before=$work/before
  snapshot "$before"
  LANG=$lang $wine "$fixtures/launcher_double.exe" 'Z:'"$work/quiet.log" "$(hexarg 'C:\下载\Setup.exe')" /q >/dev/null 2>&1 </dev/null
  expect_eq "$cp quiet: exit" "$(tr -d '\r' <"$work/quiet.log" | sed -n 's/^exit //p')" 0
  local program_hex
  program_hex=$(printf 'makeActiveSaver-%s.scr' "$name" | iconv -f UTF-8 -t "CP$cp" | xxd -p | tr -d '\n')
  expect_eq "$cp quiet: report in the code page" "$(active_saver_report "$work/quiet.log")" "${program_hex}0000"
  check_installed "$cp quiet" "$cp" "$name" "$before" "$@"
  remove_saver "$name"

  snapshot "$before"
  local out
  out=$(LANG=$lang $wine "$fixtures/demo_driver.exe" install "$(hexarg 'C:\下载\Setup.exe')" 'Z:'"$work/interactive.log" 2>&1 </dev/null | tr -d '\r')
  expect_eq "$cp interactive: exit" "$(sed -n 's/^installer exit code: //p' <<<"$out")" 0
  expect_eq "$cp interactive: caption" "$(sed -n 's/^caption-hex: //p' <<<"$out" | xxd -r -p)" "Install Screen Saver: $name"
  check_installed "$cp interactive" "$cp" "$name" "$before" "$@"
  remove_saver "$name"
  rm -f "$setup"
}

scenario en_US.UTF-8 1252 "Café Crème" "crème brûlée.txt" "façade/été.txt"
scenario ru_RU.UTF-8 1251 "Аквариум" "рыбы.txt" "вода/ёж.txt"
# 表 (95 5C) and ソ (83 5C): second bytes 0x5C, the backslash.
scenario ja_JP.UTF-8 932 "表示" "ソフト.txt" "表/データ.txt"

# A name ending in a lead byte of 932: "Aqua•" written in 1252 ends in 0x95.
restart_wine
make_installer "$drive/下载/Lead.exe" 1252 "Aqua•" "a.txt"
out=$(LANG=ja_JP.UTF-8 $wine "$fixtures/demo_driver.exe" install "$(hexarg 'C:\下载\Lead.exe')" 'Z:'"$work/lead.log" 2>&1 </dev/null | tr -d '\r')
if grep -q -- '-541' <<<"$out"; then ok; else bad "932: a name ending in a lead byte is not refused with -541: $out"; fi
expect_eq "932: nothing installed for the refused name" "$(ls "$drive/ProgramData/Brindlefax" 2>/dev/null | wc -l)" 0
expect_eq "932: no work folder left" "$(find "$drive/users" -path '*/Brindlefax/ZNK*' -maxdepth 6 | wc -l)" 0

echo "code pages: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
