#!/usr/bin/env bash
# Benchmarks the release build of patcher against cp on scratch prefixes and
# prints the figures: for each workload the median ratio patcher/cp over
# alternating runs, and the peak memory (RSS) of each; and the system calls
# patcher makes per copied file.
#
# Usage: bench/run.sh [--quick] [--reps N] [--dir SCRATCH] [--only NAMES]
#   --quick      small workloads (seconds; what CI runs)
#   --reps N     timed runs of each command per workload (default 5; 2 quick)
#   --dir D      where to make the scratch prefixes (default: mktemp -d);
#                the full run needs about 3.5 GiB there
#   --only N,..  run only these workloads: big wide small calls scale lookup
#                discovery durability
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0 reps="" scratch_parent=""
only="big,wide,small,calls,scale,lookup,discovery,durability"
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --reps) reps=$2; shift ;;
    --dir) scratch_parent=$2; shift ;;
    --only) only=$2; shift ;;
    *) sed -n '2,14p' "$0" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$reps" ] || reps=$((quick ? 2 : 5))
wants() { [[ ",$only," == *",$1,"* ]]; }

"$root/tools/install_deps.sh" --check bench
build=$root/build-bench
cmake -S "$root/bench" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  ${PATCHER_WERROR:+-DPATCHER_WERROR=ON} >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
patcher=$build/program/patcher
tool=$build/bench_tool

if [ -n "$scratch_parent" ]; then
  mkdir -p "$scratch_parent"
  work=$(mktemp -d "$scratch_parent/patcher-bench.XXXXXX")
else
  work=$(mktemp -d)
fi
trap 'rm -rf "$work"' EXIT
echo "scratch: $work ($(df -h --output=avail "$work" | tail -1 | tr -d ' ') free," \
  "$(findmnt -n -o FSTYPE -T "$work"))"

# prefix DIR REGISTRY_MIB [--no-product-key | --no-game]: a 64-bit prefix
# whose registry places the game at C:\Games\Torvane 2000 (or not at all).
make_prefix() {
  mkdir -p "$1/dosdevices" "$1/drive_c/Games/Torvane 2000"
  ln -s ../drive_c "$1/dosdevices/c:"
  "$tool" make-registry "$1/system.reg" "$2" ${3:+"$3"}
}

median() { sort -g | awk '{v[NR] = $1} END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maxof() { sort -g | tail -1; }

# timed NAME [time options] -- COMMAND...: runs it after flushing what earlier
# runs left in memory, appends "seconds rss" to $work/NAME and fails on a
# non-zero exit status.
timed() {
  local name=$1
  shift
  sync
  local t rss status
  read -r t rss status < <("$tool" time "$@")
  if [ "$status" != 0 ]; then
    echo "FAIL: $name exited with $status" >&2
    exit 1
  fi
  echo "$t $rss" >>"$work/$name"
}
col() { awk -v c="$2" '{print $c}' "$work/$1"; }
ratios() { paste "$work/$1" "$work/$2" | awk '{printf "%.6f\n", $1 / $3}'; }
mib() { awk '{printf "%.1f", $1 / 1024}'; }

# copy_workload NAME COUNT SIZE DIRS SUBDIRS MISCASED
copy_workload() {
  local name=$1 count=$2 size=$3 dirs=$4 subdirs=$5 miscased=$6
  local prefix=$work/$name/prefix patch=$work/$name/patch
  local game="$prefix/drive_c/Games/Torvane 2000"
  make_prefix "$prefix" 1.7
  "$tool" make-patch "$game" "$patch" "$count" "$size" "$dirs" "$subdirs"
  local run_patcher=(--cwd "$patch" --stdin $'y\n' --env "WINEPREFIX=$prefix"
    -- "$patcher")
  local run_cp=(-- cp -R "$patch/files/." "$game/")
  rm -f "$work"/{p,m,c,s}."$name"
  for ((i = 0; i < reps; i++)); do
    cp "$patch/move-exact.txt" "$patch/move.txt"
    if ((i % 2 == 0)); then
      timed "p.$name" "${run_patcher[@]}"
      timed "c.$name" "${run_cp[@]}"
    else
      timed "c.$name" "${run_cp[@]}"
      timed "p.$name" "${run_patcher[@]}"
    fi
    timed "s.$name" --syncfs "$game" "${run_cp[@]}"
    if ((miscased)); then
      cp "$patch/move-miscased.txt" "$patch/move.txt"
      timed "m.$name" "${run_patcher[@]}"
      if ((i == 0)) && [ -n "$(find "$game" -name 'DATA' -o -name 'D00')" ]; then
        echo "FAIL: $name: the mis-cased run created folders" >&2
        exit 1
      fi
    fi
    if ((i == 0)) && ! diff -rq "$patch/files/Data" "$game/Data" >/dev/null; then
      echo "FAIL: $name: the game's files differ from the patch's" >&2
      exit 1
    fi
  done
  printf '%-34s patcher %7.3f s  cp %7.3f s  ratio %5.2f (target %s)  vs cp+sync %5.2f\n' \
    "$7" "$(col "p.$name" 1 | median)" "$(col "c.$name" 1 | median)" \
    "$(ratios "p.$name" "c.$name" | median)" "$8" "$(ratios "p.$name" "s.$name" | median)"
  printf '%-34s peak RSS: patcher %s MiB, cp %s MiB\n' "" \
    "$(col "p.$name" 2 | maxof | mib)" "$(col "c.$name" 2 | maxof | mib)"
  if ((miscased)); then
    printf '%-34s patcher %7.3f s  ratio to exact case %5.2f (target <= 1.5)  peak RSS %s MiB\n' \
      "  same, destinations mis-cased" "$(col "m.$name" 1 | median)" \
      "$(ratios "m.$name" "p.$name" | median)" "$(col "m.$name" 2 | maxof | mib)"
  fi
  rm -rf "${work:?}/$name"
}

echo "patcher/cp: median over $reps alternating runs; cp+sync also flushes" \
  "the file system, as patcher does"
if ((quick)); then
  wants big && copy_workload big 1 $((16 << 20)) 0 0 0 "1 file of 16 MiB" "<= 1.1"
  wants wide && copy_workload wide 50 $((512 << 10)) 5 0 0 \
    "50 files of 512 KiB, 5 folders" "<= 1.1"
  wants small && copy_workload small 300 4096 5 4 1 \
    "300 files of 4 KiB, 5x4 folders" "<= 1.5"
else
  wants big && copy_workload big 1 $((1 << 30)) 0 0 0 "1 file of 1 GiB" "<= 1.1"
  wants wide && copy_workload wide 2000 $((512 << 10)) 20 0 0 \
    "2,000 files of 512 KiB, 20 folders" "<= 1.1"
  wants small && copy_workload small 20000 4096 20 10 1 \
    "20,000 files of 4 KiB, 20x10 folders" "<= 1.5"
fi

# strace_total FILE: the calls that strace -c counted, from its "total" line
# (% time, seconds, usecs/call, calls, errors, total).
strace_total() { awk '$NF == "total" {print $4}' "$1"; }

# calls_per_file DIR COUNT: system calls per copied file (strace -c -f) of a
# run of the patch in DIR/patch on DIR/prefix, less those of a run of the
# same list without entries, over its COUNT files.
calls_per_file() {
  local dir=$1 count=$2
  local patch=$dir/patch
  local list
  head -2 "$patch/move-exact.txt" >"$patch/move-empty.txt"
  for list in move-exact.txt move-empty.txt; do
    cp "$patch/$list" "$patch/move.txt"
    (cd "$patch" && printf 'y\n' | WINEPREFIX="$dir/prefix" \
      strace -c -f -o "$dir/$list.strace" "$patcher" >/dev/null 2>&1) || {
      echo "FAIL: calls: patcher failed under strace" >&2
      exit 1
    }
  done
  awk -v a="$(strace_total "$dir/move-exact.txt.strace")" \
    -v b="$(strace_total "$dir/move-empty.txt.strace")" -v n="$count" \
    'BEGIN {printf "%.1f", (a - b) / n}'
}

need_strace() {
  if ! strace -f -qq -o /dev/null true 2>/dev/null; then
    echo "FAIL: $1: strace cannot trace here (ptrace refused)" >&2
    exit 1
  fi
}

if wants calls; then
  need_strace calls
  game="$work/calls/prefix/drive_c/Games/Torvane 2000"
  make_prefix "$work/calls/prefix" 1.7
  "$tool" make-patch "$game" "$work/calls/patch" 1000 4096 10 0
  replaced=$(calls_per_file "$work/calls" 1000)
  find "$game/Data" -type f -delete  # the same files, new to the game
  created=$(calls_per_file "$work/calls" 1000)
  printf 'system calls per file (strace -c -f, 1,000 files of 4 KiB, 10 folders):\n'
  printf '  %s replacing files, %s new files (target <= 15)\n' "$replaced" "$created"
  rm -rf "$work/calls"
fi

# scale_step COUNT DIRS: a texture pack's shape, COUNT files of 512 bytes
# spread over DIRS folders (each next file in the next folder), its sources
# laid out as the destinations. Prints the time per file of patcher and of
# cp + sync (median over alternating runs), their ratio, the same for the
# bare copy that a crash leaves old or new (bench_tool replace), the
# system calls per file of one run under strace and the peak RSS.
scale_step() {
  local count=$1 dirs=$2 name=scale
  local prefix=$work/$name/prefix patch=$work/$name/patch
  local game="$prefix/drive_c/Games/Torvane 2000"
  make_prefix "$prefix" 1.7
  "$tool" make-patch "$game" "$patch" "$count" 512 "$dirs" 0
  local run_patcher=(--cwd "$patch" --stdin $'y\n' --env "WINEPREFIX=$prefix"
    -- "$patcher")
  rm -f "$work"/{p,s,r}."$name"
  cp "$patch/move-exact.txt" "$patch/move.txt"
  for ((i = 0; i < reps; i++)); do
    if ((i % 2 == 0)); then
      timed "p.$name" "${run_patcher[@]}"
      timed "s.$name" --syncfs "$game" -- cp -R "$patch/files/." "$game/"
    else
      timed "s.$name" --syncfs "$game" -- cp -R "$patch/files/." "$game/"
      timed "p.$name" "${run_patcher[@]}"
    fi
    timed "r.$name" -- "$tool" replace "$patch" "$game"
  done
  if ! diff -rq "$patch/files/Data" "$game/Data" >/dev/null; then
    echo "FAIL: $name: the game's files differ from the patch's" >&2
    exit 1
  fi
  local calls
  calls=$(calls_per_file "$work/$name" "$count")
  printf '  %6d files, %3d folders: patcher %6.1f us/file  cp+sync %6.1f us/file  ratio %5.2f (target <= 1.2)\n' \
    "$count" "$dirs" "$(col "p.$name" 1 | median | awk -v n="$count" '{print $1 * 1e6 / n}')" \
    "$(col "s.$name" 1 | median | awk -v n="$count" '{print $1 * 1e6 / n}')" \
    "$(ratios "p.$name" "s.$name" | median)"
  printf '  %6s %13s  bare crash-safe copy (new file, syncfs per 256, rename) %6.1f us/file: ratio %5.2f to cp+sync, patcher / it %5.2f\n' \
    "" "" "$(col "r.$name" 1 | median | awk -v n="$count" '{print $1 * 1e6 / n}')" \
    "$(ratios "r.$name" "s.$name" | median)" "$(ratios "p.$name" "r.$name" | median)"
  printf '  %6s %13s  %s system calls per file (target <= 15)  peak RSS: patcher %s MiB (target <= 16), cp %s MiB\n' \
    "" "" "$calls" "$(col "p.$name" 2 | maxof | mib)" "$(col "s.$name" 2 | maxof | mib)"
  rm -rf "${work:?}/$name"
}

if wants scale; then
  need_strace scale
  echo "scaling: files of 512 bytes, 400 a folder, each next file in the next folder:"
  if ((quick)); then
    scale_step 2000 5
  else
    scale_step 20000 50
    scale_step 80000 200
  fi
fi

if wants lookup; then
  mib_reg=$((quick ? 3 : 30))
  mkdir -p "$work/lookup/patch"
  printf 'Lookup only\r\ntorvane.exe\r\n' >"$work/lookup/patch/move.txt"
  make_prefix "$work/lookup/found" $mib_reg
  make_prefix "$work/lookup/fallback" $mib_reg --no-product-key
  make_prefix "$work/lookup/fresh" 1.7
  for kind in fresh found fallback; do
    for ((i = 0; i < reps; i++)); do
      timed l.$kind --cwd "$work/lookup/patch" --stdin $'y\n' \
        --env "WINEPREFIX=$work/lookup/$kind" -- "$patcher"
    done
  done
  size=$(du -m "$work/lookup/found/system.reg" | cut -f1)
  printf 'lookup in a %s MB system.reg (whole run, empty list; target < 0.2 s):\n' "$size"
  printf '  product key found          %6.3f s  peak RSS %s MiB\n' \
    "$(col l.found 1 | median)" "$(col l.found 2 | maxof | mib)"
  printf '  via App Paths (3 misses)   %6.3f s  peak RSS %s MiB\n' \
    "$(col l.fallback 1 | median)" "$(col l.fallback 2 | maxof | mib)"
  printf '  for scale: 1.7 MB registry %6.3f s\n' "$(col l.fresh 1 | median)"
  rm -rf "$work/lookup"
fi

if wants discovery; then
  # A home folder with Steam prefixes of growing registries, the game in one
  # of them; the run, with no prefix named, searches them all, then answers
  # No to the question.
  count=$((quick ? 10 : 50)) smallest=2 largest=$((quick ? 3 : 30))
  home=$work/discovery/home
  compat=$home/.local/share/Steam/steamapps/compatdata
  mkdir -p "$work/discovery/patch"
  printf 'Discovery only\r\ntorvane.exe\r\n' >"$work/discovery/patch/move.txt"
  for ((i = 0; i < count; i++)); do
    mib=$(awk -v i=$i -v n=$count -v a=$smallest -v b=$largest \
      'BEGIN { printf "%.2f", a + (b - a) * i / (n - 1) }')
    game=--no-game
    ((i == count / 2)) && game=""
    make_prefix "$compat/$i/pfx" "$mib" $game
    : >"$compat/$i/pfx/user.reg"
  done
  for ((i = 0; i < reps; i++)); do
    timed d.discovery --cwd "$work/discovery/patch" --stdin $'n\n' \
      --env "HOME=$home" --env WINEPREFIX= --env STEAM_COMPAT_DATA_PATH= \
      --env XDG_DATA_HOME= -- "$patcher"
    # For scale: one pass of grep that reads every registry whole.
    timed d.grep -- grep -r -c -F --include=system.reg 'Install Dir' "$compat"
  done
  size=$(du -sm "$compat" | cut -f1)
  printf 'discovery over %s prefixes of %s to %s MB registries (%s MB; whole run; target for 50 of 2 to 30 MB: < 1 s): %6.3f s  peak RSS %s MiB\n' \
    "$count" "$smallest" "$largest" "$size" "$(col d.discovery 1 | median)" \
    "$(col d.discovery 2 | maxof | mib)"
  printf '  one grep pass over those registries %6.3f s: discovery takes %.1f passes (target < 10)\n' \
    "$(col d.grep 1 | median)" "$(ratios d.discovery d.grep | median)"
  rm -rf "$work/discovery"
fi

if wants durability; then
  echo "durability options, the copy method alone (times include the flush):"
  if ((quick)); then
    "$tool" durability "$work/dur-small" 100 4096
  else
    "$tool" durability "$work/dur-small" 5000 4096
    "$tool" durability "$work/dur-wide" 500 $((512 << 10))
  fi
  rm -rf "$work"/dur-*
fi
