#!/usr/bin/env bash
# Scale benchmark: installers carrying 1 GiB, run under wine64.
#
#   bench/scale.sh [CASE...]        cases: small members stored imploded (default: all)
#
#   small     a 300 KB data file (the baseline: Wine's own start-up and memory)
#   members   a 1 GiB data file of 1000 members, half stored (random bytes),
#             half imploded (text)
#   stored    one stored member of 1 GiB (random bytes)
#   imploded  one imploded member of 1 GiB (text)
#
# For each case it packs an installer with the packager (dist/linux/saverpack)
# on the x86_64 stub, puts it on the Wine prefix's C: drive and measures, in
# the same run:
#   cp_s          `cp` of the installer file to a new file on the same drive
#   dd_s          the same copy with dd in 256 KiB blocks (a user-space
#                 copy, as the installer's are; cp copies inside the kernel)
#   copyfile_s    the same copy with CopyFileA inside Wine
#   floor_s       CopyFileA of the installer three times in a row: the
#                 install's three passes over the package (the copy to
#                 "temp.dat", the data file written out, the members
#                 expanded from it) cost at least that under Wine
#   install_s     a quiet install ("/q") from start to process end
#   qn_log_s      an unattended install with its log ("/qn /log=<file>"),
#                 in the same repeat as install_s (their order alternates)
#   qn_ratio      qn_log_s / install_s, the median of the repeats' ratios
#                 (goal: no measurable cost of the log, about 1.00)
#   ratio         install_s / cp_s (says little: cp copies inside the kernel)
#   floor_x       install_s / floor_s (goals: 1.5 for one stored member,
#                 2 for 1000 members)
#   peak_ws_mib   the installer's PeakWorkingSetSize (GetProcessMemoryInfo,
#                 sampled by the launcher-like helper scale_probe.exe)
#   vmhwm_mib     VmHWM of the installer's Wine process (/proc/PID/status)
#                 (goal for the peak: under 64 MiB whatever the size)
#   ready_s       an interactive start until the installer window is visible
#   ready_over    ready_s less one CopyFileA (goal: at most 0.5)
#
# Figures are medians of REPEAT runs (default 3); the peaks are maxima.
# Environment: BUILD (x86_64 build folder with stub.exe and fixtures/;
# default build/win64), WINEPREFIX (default: a private copy of
# .deps/wineprefix under BENCH_DIR), BENCH_DIR (scratch space, default
# /tmp/scale-bench; needs about 6 GiB), DISPLAY (default: an Xvfb of its
# own).  Everything the run creates is removed at the end.  Each timed step
# starts after a sync, so that none pays for the dirty pages of the one
# before; the files stay in the page cache, but the kernel throttles writers
# to the disk's pace once dirty data piles up, so a step that writes several
# GiB runs at about the disk's speed.
set -euo pipefail
# A step that fails stops the run: say which.
trap 'echo "scale.sh: stopped at line $LINENO: $BASH_COMMAND" >&2' ERR

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/win64}
bench=${BENCH_DIR:-/tmp/scale-bench}
saverpack=$root/dist/linux/saverpack
wine=/usr/lib/wine/wine64
probe=$build/fixtures/scale_probe.exe
standin='Z:'$(tr / '\\' <<<"$build/fixtures/flash_standin.dll")
repeat=${REPEAT:-3}
cases=("$@")
[[ ${#cases[@]} -gt 0 ]] || cases=(small members stored imploded)

for f in "$saverpack" "$build/stub.exe" "$probe" "$build/fixtures/flash_standin.dll"; do
  [[ -e $f ]] || { echo "scale.sh: missing $f (build the x86_64 tree and the packager first)" >&2; exit 2; }
done

echo "== disk space"
df -h /tmp /work "$(dirname "$bench")"
mkdir -p "$bench"
avail_kib=$(df -Pk "$bench" | awk 'NR == 2 {print $4}')
if ((avail_kib < 7 * 1024 * 1024)); then
  echo "scale.sh: less than 7 GiB free under $bench" >&2
  exit 2
fi

xvfb_pid="" own_prefix="" work_base="" work_before=""
cleanup() {
  set +e
  if [[ -n ${WINEPREFIX:-} && -d ${WINEPREFIX:-} ]]; then
    rm -rf "$WINEPREFIX/drive_c/scale" "$WINEPREFIX/drive_c/ProgramData/Brindlefax/Scale Bench"*
    rm -f "$WINEPREFIX/drive_c/windows/system32/Scale Bench"*.scr
    # Work folders of interrupted runs (a finished run removes its own).
    for d in "$work_base"/ZNK*; do
      [[ -d $d && " $work_before " != *" $(basename "$d") "* ]] && rm -rf "$d"
    done
  fi
  rm -rf "$bench/inputs" "$bench/probe.out"
  if [[ -n $own_prefix ]]; then
    WINEPREFIX=$own_prefix /usr/lib/wine/wineserver -k 2>/dev/null
    rm -rf "$own_prefix"
  fi
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

if [[ -z ${WINEPREFIX:-} ]]; then
  own_prefix=$bench/prefix
  rm -rf "$own_prefix"
  cp -a "$root/.deps/wineprefix" "$own_prefix"
  export WINEPREFIX=$own_prefix
fi
if [[ -z ${DISPLAY:-} ]]; then
  display=":$((200 + RANDOM % 200))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  sleep 1
fi
export WINEDEBUG=-all
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/scale"
# The work folders' base exists only after a first install: a fresh prefix
# has none yet.
work_base=$(echo "$drive_c"/users/*/AppData/Local)/Brindlefax
work_before=""
[[ -d $work_base ]] && work_before=$(ls "$work_base" | tr '\n' ' ')

# ---- inputs -------------------------------------------------------------------
gib=$((1024 * 1024 * 1024))

# Text that implodes to roughly half: words from a small vocabulary.  A pool
# of 8 MiB is made once; files are slices of it at varying offsets (the
# implode window is 4 KiB, so the repetition is invisible to it).
make_text() {  # make_text FILE BYTES SEED
  python3 - "$1" "$2" "$3" <<'EOF'
import random, sys
path, size, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
r = random.Random(1)
words = [''.join(r.choice('etaoinshrdlucmfwypvbgkjqxz'[:r.randint(8, 26)]) for _ in range(r.randint(2, 9)))
         for _ in range(800)]
lines, n = [], 0
while n < 8 << 20:
    line = ' '.join(r.choices(words, k=11)) + '.\r\n'
    lines.append(line)
    n += len(line)
pool = ''.join(lines).encode()
with open(path, 'wb') as f:
    left, at = size, (seed * 7919) % (len(pool) // 2)
    while left:
        piece = pool[at:at + min(left, len(pool) - at)]
        f.write(piece)
        left -= len(piece)
        at = (at + 104729) % (len(pool) // 2)
EOF
}

make_case() {  # make_case NAME: writes $bench/inputs/NAME/ with its manifest
  local name=$1 dir=$bench/inputs/$1
  rm -rf "$dir"
  mkdir -p "$dir/data"
  printf 'MZ stand-in saver' >"$dir/saver.scr"
  for i in 7 9 10; do printf 'item %s\r\n' "$i" >"$dir/item$i.txt"; done
  python3 - "$dir/preview.bmp" <<'EOF'
import struct, sys
w, h = 48, 27
stride = (w * 3 + 3) & ~3
data = (bytes([0x30, 0xa0, 0x30]) * w + b'\0' * (stride - w * 3)) * h
head = b'BM' + struct.pack('<IHHI', 54 + len(data), 0, 0, 54)
head += struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
open(sys.argv[1], 'wb').write(head + data)
EOF
  case $name in
    small)
      head -c 100000 /dev/urandom >"$dir/data/noise.bin"
      make_text "$dir/data/words.txt" 200000 1 ;;
    members)
      local each=$((gib / 1000)) i
      for ((i = 0; i < 500; i++)); do head -c "$each" /dev/urandom >"$dir/data/noise$i.bin"; done
      # The text members in one go: one Python start for 500 files.
      make_text "$dir/words.all" $((each * 500)) 2
      split -b "$each" -d -a 3 --additional-suffix=.txt "$dir/words.all" "$dir/data/words"
      rm "$dir/words.all" ;;
    stored) head -c "$gib" /dev/urandom >"$dir/data/big.bin" ;;
    imploded) make_text "$dir/data/big.txt" "$gib" 3 ;;
  esac
  cat >"$dir/manifest.json" <<EOF
{"saverName": "Scale Bench $name", "previewMode": "bitmap", "preview": "preview.bmp",
 "saver": "saver.scr", "items": {"7": "item7.txt", "9": "item9.txt", "10": "item10.txt"},
 "dataFolder": "data",
 "compressionRules": [{"match": "*.bin", "compression": "store"}, {"match": "*.txt", "compression": "implode"}],
 "offerControlPanel": false}
EOF
}

# ---- measuring ---------------------------------------------------------------
now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b - a}'; }
field() { awk -v k="$1" '$1 == k {print $2}' <<<"$2"; }
mib() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }
seconds() { awk -v ms="$1" 'BEGIN {printf "%.2f", ms / 1000}'; }
max() { awk -v a="${1:-0}" -v b="${2:-0}" 'BEGIN {print (a + 0 > b + 0) ? a : b}'; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# VmHWM (KiB) of the Wine process whose name is $1, sampled until $2 ends.
watch_hwm() {
  local name=$1 waitfor=$2 best=0 pid v
  while kill -0 "$waitfor" 2>/dev/null; do
    for pid in $(pgrep -x "$name" 2>/dev/null); do
      v=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      ((${v:-0} > best)) && best=$v
    done
    sleep 0.02
  done
  echo "$best"
}

run_probe() {  # run_probe MODE EXE_NAME [ARG...]: prints the probe's lines, then "vmhwm_kib N"
  local out=$bench/probe.out
  "$wine" "$probe" "$1" "C:\\scale\\$2" "$standin" "${@:3}" >"$out" 2>/dev/null &
  local pid=$!
  local hwm
  hwm=$(watch_hwm "$2" "$pid")
  wait "$pid" || true
  tr -d "\r" <"$out"
  echo "vmhwm_kib $hwm"
}

printf '\n%-9s %8s %6s %6s %10s %7s %9s %8s %8s %6s %7s %11s %9s %7s %10s\n' case size_mib cp_s dd_s copyfile_s \
  floor_s install_s qn_log_s qn_ratio ratio floor_x peak_ws_mib vmhwm_mib ready_s ready_over
for name in "${cases[@]}"; do
  exe=$name.exe
  echo "-- $name: making inputs and packing" >&2
  make_case "$name"
  "$saverpack" build "$bench/inputs/$name/manifest.json" -o "$drive_c/scale/$exe" \
    --stub "$build/stub.exe" --no-library >&2
  rm -rf "$bench/inputs/$name"
  size=$(stat -c %s "$drive_c/scale/$exe")

  cps=() dds=() copyfiles=() floors=() installs=() qns=() qn_ratios=() readys=() peak=0 hwm=0
  for ((run = 1; run <= repeat; run++)); do
    sync
    t0=$(now); cp "$drive_c/scale/$exe" "$drive_c/scale/copy.exe"; t1=$(now)
    cps+=("$(secs "$t0" "$t1")")
    rm -f "$drive_c/scale/copy.exe"
    sync
    t0=$(now); dd if="$drive_c/scale/$exe" of="$drive_c/scale/copy.exe" bs=256k 2>/dev/null; t1=$(now)
    dds+=("$(secs "$t0" "$t1")")
    rm -f "$drive_c/scale/copy.exe"
    sync
    copy=$("$wine" "$probe" floor "C:\\scale\\$exe" 'C:\scale\copy.exe' 2>/dev/null | tr -d '\r')
    [[ $(field copied "$copy") == 1 ]] || echo "scale.sh: $name: CopyFileA failed" >&2
    copyfiles+=("$(seconds "$(field copy_ms "$copy")")")
    floors+=("$(seconds "$(field floor_ms "$copy")")")
    rm -f "$drive_c/scale/copy.exe".*

    # "/q" and "/qn" with its log, side by side; which goes first alternates.
    for kind in $( ((run % 2)) && echo q qn || echo qn q); do
      sync
      if [[ $kind == q ]]; then
        quiet=$(run_probe quiet "$exe")
      else
        quiet=$(run_probe quiet "$exe" /qn '/log=C:\scale\install.log')
      fi
      [[ $(field exit "$quiet") == 0 ]] || echo "scale.sh: $name: /$kind install ended with $(field exit "$quiet")" >&2
      if [[ $kind == q ]]; then
        installs+=("$(seconds "$(field install_ms "$quiet")")")
      else
        qns+=("$(seconds "$(field install_ms "$quiet")")")
        [[ -s $drive_c/scale/install.log ]] || echo "scale.sh: $name: /qn wrote no log" >&2
        log_kib=$(( $(stat -c %s "$drive_c/scale/install.log" 2>/dev/null || echo 0) / 1024 ))
        rm -f "$drive_c/scale/install.log"
      fi
      peak=$(max "$peak" "$(field peak_working_set "$quiet")")
      hwm=$(max "$hwm" "$(field vmhwm_kib "$quiet")")
      "$wine" "$probe" remove "Scale Bench $name" "Scale Bench $name.scr" >/dev/null 2>&1
    done
    qn_ratios+=("$(awk -v a="${qns[-1]}" -v b="${installs[-1]}" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}')")
    sync
    ready=$(run_probe ready "$exe")
    [[ $(field window "$ready") == 1 ]] || echo "scale.sh: $name: the installer window never appeared" >&2
    readys+=("$(seconds "$(field ready_ms "$ready")")")
    peak=$(max "$peak" "$(field peak_working_set "$ready")")
    hwm=$(max "$hwm" "$(field vmhwm_kib "$ready")")
    echo "   run $run: cp ${cps[-1]} dd ${dds[-1]} CopyFileA ${copyfiles[-1]} floor ${floors[-1]}" \
      "install ${installs[-1]} /qn+log ${qns[-1]} (log ${log_kib} KiB) ready ${readys[-1]}" >&2
  done

  cp_s=$(median "${cps[@]}") install_s=$(median "${installs[@]}") copyfile_s=$(median "${copyfiles[@]}")
  floor_s=$(median "${floors[@]}") ready_s=$(median "${readys[@]}")
  printf '%-9s %8s %6s %6s %10s %7s %9s %8s %8s %6s %7s %11s %9s %7s %10s\n' "$name" "$(mib "$size")" "$cp_s" \
    "$(median "${dds[@]}")" "$copyfile_s" "$floor_s" "$install_s" "$(median "${qns[@]}")" \
    "$(median "${qn_ratios[@]}")" \
    "$(awk -v a="$install_s" -v b="$cp_s" 'BEGIN {printf "%.1f", a / b}')" \
    "$(awk -v a="$install_s" -v b="$floor_s" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')" \
    "$(mib "$peak")" "$(awk -v k="$hwm" 'BEGIN {printf "%.1f", k / 1024}')" "$ready_s" \
    "$(awk -v a="$ready_s" -v b="$copyfile_s" 'BEGIN {printf "%.2f", a - b}')"
  rm -f "$drive_c/scale/$exe"
done
