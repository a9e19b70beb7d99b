#!/usr/bin/env bash
# scripts/apt-archive on sources lists of the forms apt reads: the release's
# own archive is found in one-line and deb822 files (options, several URIs,
# continuation lines), and disabled stanzas, source-only lines and the
# -security and -backports suites are passed over; with none it fails.
# --add writes apt an entry for that archive.
set -u
cd "$(dirname "$0")/../.."
pass=0 fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expect() {  # expect DESCRIPTION EXPECTED FILE...
  local got rc=0
  got=$(APT_ARCHIVE_RELEASE=bookworm scripts/apt-archive "${@:3}" 2>/dev/null) || rc=$?
  local ok=0
  if [ "$2" = FAIL ]; then
    [ "$rc" -ne 0 ] && [ -z "$got" ] && ok=1
  else
    [ "$rc" -eq 0 ] && [ "$got" = "$2" ] && ok=1
  fi
  if [ "$ok" = 1 ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1)); echo "FAILED: $1: got '$got' (exit $rc), expected '$2'"
  fi
}

cat >"$work/one-line.list" <<'EOF'
# a comment, then a source-only line and a line with options
deb-src http://src.example/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/x.gpg] http://mirror.example/debian/ bookworm main contrib
deb http://other.example/debian bookworm-updates main
EOF
cat >"$work/deb822.sources" <<'EOF'
Types: deb
URIs: http://security.example/debian-security
Suites: bookworm-security
Components: main

Types: deb deb-src
Enabled: no
URIs: http://disabled.example/debian
Suites: bookworm

Types: deb
URIs:
 http://first.example/debian
 http://second.example/debian
Suites: bookworm bookworm-updates
Components: main
EOF
cat >"$work/others.sources" <<'EOF'
Types: deb
URIs: http://backports.example/debian
Suites: bookworm-backports
Components: main
EOF
printf 'deb http://old.example/debian bullseye main\n' >"$work/old.list"

expect "one-line format, options and trailing slash" http://mirror.example/debian "$work/one-line.list"
expect "deb822, continuation lines, a disabled stanza" http://first.example/debian "$work/deb822.sources"
expect "the first file that has one wins" http://first.example/debian "$work/others.sources" "$work/deb822.sources" \
  "$work/one-line.list"
expect "only -backports and another release" FAIL "$work/others.sources" "$work/old.list"
mkdir "$work/parts"
added=$work/parts/project-deb-src.list
if APT_ARCHIVE_RELEASE=bookworm APT_ARCHIVE_SOURCES_DIR=$work/parts \
    scripts/apt-archive --add deb-src bookworm project-deb-src "$work/deb822.sources" &&
  [ "$(cat "$added")" = "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://first.example/debian bookworm main" ]; then
  pass=$((pass + 1))
else
  fail=$((fail + 1)); echo "FAILED: --add wrote '$(cat "$added" 2>/dev/null)'"
fi
if ! APT_ARCHIVE_RELEASE=bookworm APT_ARCHIVE_SOURCES_DIR=$work/parts \
    scripts/apt-archive --add deb bookworm-backports project-backports "$work/old.list" 2>/dev/null &&
  [ ! -e "$work/parts/project-backports.list" ]; then
  pass=$((pass + 1))
else
  fail=$((fail + 1)); echo "FAILED: --add wrote an entry without an archive"
fi
echo "apt archive: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
