#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when what
# they bring is missing. The one script that installs, and the one place that
# knows the packages' names: the other scripts check with --check and say
# which group to install.
#
# Usage: tools/install_deps.sh [--check] [GROUP|PACKAGE...]   (default: basics)
#   basics      build the program and run its tests (ctest --preset ci; the
#               suite of a real Wine prefix also needs the group wine)
#   desktop     the desktop dialog suite: a screen, dialogs, their pictures,
#               and strace to slow the copies down while it looks
#   windows     cross-build patcher.exe (cmake --preset windows)
#   wine        run patcher.exe under Wine (ctest --preset windows)
#   fuzz        build and run the fuzz targets (tools/fuzz.sh)
#   sanitizers  the tests under the sanitizers (tools/ci_hostile.sh)
#   coverage    the fuzz targets' coverage (tools/fuzz_coverage.sh)
#   bench       the benchmark (bench/run.sh), system calls counted with strace
#   lint        tools/shellcheck.sh
#   release     build a release (tools/release.sh) and check it
#               (tests/release_test.sh: file, lintian, man)
#   all         everything tools/test_all.sh runs
# A PACKAGE is one of the Debian packages that the groups name.
# --check installs nothing: it names what is missing, says how to get it and
# exits 1.
set -euo pipefail

# What shows that a package is there: a program on PATH or a file (which a
# pattern may name); a|b where either will do.
declare -A shows=(
  [make]=make
  [cmake]=cmake
  [g++]=g++
  [libgtest-dev]=/usr/include/gtest/gtest.h
  [strace]=strace
  [xvfb]=Xvfb
  [zenity]=zenity
  [xdotool]=xdotool
  [netpbm]=xwdtopnm
  [g++-mingw-w64-x86-64]=x86_64-w64-mingw32-g++
  [wine64]='wine64|/usr/lib/wine/wine64'
  [fonts-wine]=/usr/share/wine/fonts/tahoma.ttf
  [clang]=clang++
  [libclang-rt-dev]='/usr/lib/llvm-*/lib/clang/*/lib/*/libclang_rt.fuzzer*.a'
  [llvm]=llvm-profdata
  [shellcheck]=shellcheck
  [file]=file
  [lintian]=lintian
  [man-db]=man
  [ntfs-3g]=ntfs-3g
  [exfat-fuse]=mount.exfat-fuse
  [exfatprogs]=mkfs.exfat
  [fusefat]=fusefat
  [dosfstools]=mkfs.fat
)
declare -A groups=(
  [basics]="make cmake g++ libgtest-dev strace ntfs-3g exfat-fuse exfatprogs fusefat dosfstools"
  [desktop]="xvfb zenity xdotool netpbm strace"
  [windows]="make cmake g++-mingw-w64-x86-64"
  [wine]="wine64 fonts-wine xvfb"
  [fuzz]="make cmake clang libclang-rt-dev"
  [bench]="make cmake g++ strace"
  [lint]="shellcheck"
  [release]="make cmake g++ g++-mingw-w64-x86-64 file lintian man-db"
)
groups[sanitizers]="${groups[fuzz]} libgtest-dev"
groups[coverage]="${groups[fuzz]} llvm"
groups[all]="${groups[basics]} ${groups[desktop]} ${groups[windows]} ${groups[wine]}
  ${groups[sanitizers]} ${groups[bench]} ${groups[lint]} ${groups[release]}"

usage() { sed -n '/^# Usage:/,/^[^#]/s/^# \{0,1\}//p' "$0"; }

case ${1:-} in -h | --help) usage; exit 0 ;; esac
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
[ $# -gt 0 ] || set -- basics
asked="$*"
wanted=()
for arg; do
  if [ -n "${groups[$arg]+set}" ]; then
    read -ra names <<<"${groups[$arg]//$'\n'/ }"
    wanted+=("${names[@]}")
  elif [ -n "${shows[$arg]+set}" ]; then
    wanted+=("$arg")
  else
    echo "install_deps: no group or package '$arg'" >&2
    usage >&2
    exit 2
  fi
done

present() {  # present PACKAGE: whether what the package brings is there
  local way ways
  IFS='|' read -ra ways <<<"${shows[$1]}"
  for way in "${ways[@]}"; do
    if [[ $way == /* ]]; then
      compgen -G "$way" >/dev/null && return 0
    else
      command -v "$way" >/dev/null && return 0
    fi
  done
  return 1
}
missing() {  # the wanted packages that are not there, each once
  local p
  declare -A seen=()
  for p in "${wanted[@]}"; do
    [ -z "${seen[$p]:-}" ] || continue
    seen[$p]=1
    present "$p" || echo "$p"
  done
}
report() {  # report PACKAGE...: what is missing
  local p
  for p; do echo "  $p (no ${shows[$p]//|/ or })" >&2; done
}

mapfile -t lacking < <(missing)
[ ${#lacking[@]} -gt 0 ] || exit 0
if ((check)); then
  echo "missing for $asked:" >&2
  report "${lacking[@]}"
  echo "get them with: tools/install_deps.sh $asked" >&2
  exit 1
fi
if ! command -v apt-get >/dev/null; then
  echo "install_deps: no apt-get here; install these Debian packages' counterparts:" >&2
  report "${lacking[@]}"
  exit 1
fi
echo "install_deps: installing ${lacking[*]} with apt-get; it says what it fetches and sets up"
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo apt-get update -q </dev/null
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
  --no-install-recommends "${lacking[@]}" </dev/null
mapfile -t lacking < <(missing)
if [ ${#lacking[@]} -gt 0 ]; then
  echo "install_deps: installed, yet still missing:" >&2
  report "${lacking[@]}"
  exit 1
fi
