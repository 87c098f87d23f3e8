#!/usr/bin/env bash
# Benchmarks patcher.exe under Wine against a plain loop of CopyFileA built
# with the same cross compiler (copy_loop.exe), on the same files in the
# same prefix, and prints for each workload the median of each over the
# repetitions and the median ratio: patcher.exe's copy phase (from the
# answer Yes to the outcome box, timed by box_driver.exe, less the same
# time for a list of one file: under Xvfb without a window manager, Wine
# waits 2 s for each new box to show) over the loop's copies; also the loop
# with a FlushFileBuffers per file; the loop that copies to a new file and
# renames it over the destination, unflushed (the plain way to keep each
# destination old or new); and the flushes per 1,000 files of each
# program (fsync, fdatasync and syncfs, counted with strace -f on one more
# run). Runs alternate between the programs, and each starts from the
# game's old files.
#
# Usage: bench/wine_run.sh [--quick] [--reps N] [--dir SCRATCH] [--only N,..]
#   --quick      small workloads (seconds)
#   --reps N     timed runs of each program per workload (default 3; 1 quick)
#   --dir D      where to make the scratch prefix (default: mktemp -d); the
#                full run needs about 3.5 GiB there
#   --only N,..  run only these workloads: wide (files of 512 KiB), small
#                (files of 4 KiB)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0 reps="" scratch_parent="" only="wide,small"
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --reps) reps=$2; shift ;;
    --dir) scratch_parent=$2; shift ;;
    --only) only=$2; shift ;;
    *) sed -n '2,22p' "$0" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$reps" ] || reps=$((quick ? 1 : 3))
wants() { [[ ",$only," == *",$1,"* ]]; }

"$root/tools/install_deps.sh" --check windows wine bench
PATH=/usr/lib/wine:$PATH  # Debian keeps wine64 and wineserver out of PATH
build=$root/build-bench-windows
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j2 --target patcher box_driver copy_loop >/dev/null

if [ -n "$scratch_parent" ]; then
  mkdir -p "$scratch_parent"
  work=$(mktemp -d "$scratch_parent/patcher-wine-bench.XXXXXX")
else
  work=$(mktemp -d)
fi
# The workloads come from bench_tool, as bench/run.sh makes them.
c++ -O2 -std=c++17 -o "$work/bench_tool" "$root/bench/bench_tool.cc"
tool=$work/bench_tool

export LC_ALL=C.UTF-8 WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
# One wineserver for every run, started before any of them: one that a
# traced run started would be traced too, and live as long as the
# box_driver.exe that waits for the trace to end.
mkdir -p "$WINEPREFIX"
wineserver -p
wine64 wineboot -i >/dev/null 2>&1
wine64 reg add 'HKLM\Software\Quelvar\Torvane 2000' /v 'Install Dir' \
  /d 'C:\Games\Torvane 2000' /reg:32 /f >/dev/null
echo "scratch: $work ($(df -h --output=avail "$work" | tail -1 | tr -d ' ') free," \
  "$(findmnt -n -o FSTYPE -T "$work")); $(wine64 --version)"

game="$WINEPREFIX/drive_c/Games/Torvane 2000"
patch=$WINEPREFIX/drive_c/patch
old=$work/old
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
reset_game() { rm -rf "$game" && mkdir -p "${game%/*}" && cp -a "$old" "$game" && sync; }
median() { sort -g | awk '{v[NR] = $1} END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# trace PATTERN FILE: once a process whose command line matches PATTERN
# runs, counts its flushes with strace -c into FILE, until it ends.
trace() {
  local pid=""
  for _ in $(seq 1000); do
    pid=$(pgrep -f "$1" | head -n1) && break
    sleep 0.005
  done
  [ -n "$pid" ] || { echo "FAIL: no process $1 to trace" >&2; return 1; }
  strace -f -c -e trace=fsync,fdatasync,syncfs -o "$2" -p "$pid" 2>/dev/null &
  local strace_pid=$!
  # -f follows what the program starts, a winedevice.exe that lives as long
  # as the wineserver among it: the trace ends with the program.
  while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  kill -INT "$strace_pid" 2>/dev/null || true
  wait "$strace_pid" || true
}

# patcher_run [FILE]: one run of patcher.exe, answered Yes and OK; prints
# the seconds of its copy phase. With FILE, its flushes are counted there.
patcher_run() {
  rm -f "$work/stop" "$work/clock"
  wine64 "$build/box_driver.exe" --log "$(winpath "$work/boxes")" \
    --stop "$(winpath "$work/stop")" --answers yes,ok \
    --clock "$(winpath "$work/clock")" --timeout 600 >/dev/null 2>&1 &
  local driver=$! status=0 tracer=""
  if [ $# -gt 0 ]; then trace 'build-bench-windows.patcher\.exe' "$1" & tracer=$!; fi
  (cd "$patch" && wine64 "$build/patcher.exe" >/dev/null 2>"$work/err") ||
    status=$?
  [ -z "$tracer" ] || wait "$tracer"
  touch "$work/stop"
  wait "$driver" || true
  if [ "$status" != 0 ] || ! grep -q '^Success|' "$work/boxes"; then
    echo "FAIL: patcher.exe exited with $status" >&2
    cat "$work/boxes" "$work/err" >&2
    exit 1
  fi
  awk '$1 == 1 && $2 == "answered" {a = $3} $1 == 2 && $2 == "seen" {s = $3}
    END {printf "%.3f\n", s - a}' "$work/clock"
}
loop_run() {  # loop_run [--flush]: prints the seconds of the copies
  (cd "$patch" && wine64 "$build/copy_loop.exe" 'C:\Games\Torvane 2000' "$@" | tr -d '\r')
}
traced_loop_run() {  # traced_loop_run FILE [--flush]: loop_run, flushes counted
  local file=$1
  shift
  trace 'copy_loop\.exe' "$file" &
  local tracer=$!
  loop_run "$@" >/dev/null
  wait "$tracer"
}
flushes() {  # flushes FILE COUNT: strace -c's flushes per 1,000 files
  awk -v n="$2" '$NF ~ /^(fsync|fdatasync|syncfs)$/ {c += $4}
    END {printf "%.0f", c * 1000 / n}' "$1"
}

# workload COUNT SIZE DIRS LABEL
workload() {
  local count=$1 size=$2 dirs=$3 label=$4
  rm -rf "$old" "$patch"
  "$tool" make-patch "$old" "$patch" "$count" "$size" "$dirs" 0
  head -n 3 "$patch/move-exact.txt" >"$patch/move.txt"
  : >"$work/b" && : >"$work/p" && : >"$work/l" && : >"$work/f" && : >"$work/r"
  for ((i = 0; i < reps; i++)); do reset_game && patcher_run >>"$work/b"; done
  local base
  base=$(median <"$work/b")
  cp "$patch/move-exact.txt" "$patch/move.txt"
  for ((i = 0; i < reps; i++)); do
    if ((i % 2 == 0)); then
      reset_game && patcher_run | awk -v b="$base" '{print $1 - b}' >>"$work/p"
      reset_game && loop_run >>"$work/l"
    else
      reset_game && loop_run >>"$work/l"
      reset_game && patcher_run | awk -v b="$base" '{print $1 - b}' >>"$work/p"
    fi
    if ((i == 0)) && ! diff -rq "$patch/files/Data" "$game/Data" >/dev/null; then
      echo "FAIL: $label: the game's files differ from the patch's" >&2
      exit 1
    fi
    reset_game && loop_run --flush >>"$work/f"
    reset_game && loop_run --replace >>"$work/r"
  done
  reset_game && patcher_run "$work/strace.p" >/dev/null
  reset_game && traced_loop_run "$work/strace.l"
  reset_game && traced_loop_run "$work/strace.f" --flush
  local p l f r
  p=$(median <"$work/p") l=$(median <"$work/l") f=$(median <"$work/f")
  r=$(median <"$work/r")
  printf '%-26s patcher.exe %7.3f s  CopyFileA loop %7.3f s  ratio %5.2f (target <= 1.5)\n' \
    "$label" "$p" "$l" "$(paste "$work/p" "$work/l" | awk '{printf "%.6f\n", $1 / $2}' | median)"
  printf '%-26s loop + FlushFileBuffers %7.3f s (ratio %4.2f);  one-file run %.3f s\n' \
    "" "$f" "$(awk -v f="$f" -v l="$l" 'BEGIN {printf "%.2f", f / l}')" "$base"
  printf '%-26s loop to a new file + MoveFileExA %7.3f s (ratio %4.2f); patcher.exe / it %4.2f\n' \
    "" "$r" "$(awk -v r="$r" -v l="$l" 'BEGIN {printf "%.2f", r / l}')" \
    "$(awk -v r="$r" -v p="$p" 'BEGIN {printf "%.2f", p / r}')"
  printf '%-26s flushes per 1,000 files: patcher.exe %s, loop %s, loop + FlushFileBuffers %s\n' "" \
    "$(flushes "$work/strace.p" "$count")" "$(flushes "$work/strace.l" "$count")" \
    "$(flushes "$work/strace.f" "$count")"
}

echo "median over $reps runs of each; copy phase of patcher.exe vs CopyFileA loop"
if ((quick)); then
  if wants wide; then workload 100 $((512 << 10)) 5 "100 x 512 KiB, 5 folders"; fi
  if wants small; then workload 300 4096 5 "300 x 4 KiB, 5 folders"; fi
else
  if wants wide; then workload 2000 $((512 << 10)) 20 "2,000 x 512 KiB, 20 folders"; fi
  if wants small; then workload 5000 4096 20 "5,000 x 4 KiB, 20 folders"; fi
fi
