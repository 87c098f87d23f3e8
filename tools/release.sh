#!/usr/bin/env bash
# Builds a release of the working tree in clean build folders
# (build-release, build-release-windows) and puts in out/release:
#   patcher-VERSION-linux-x86_64          the static, stripped Linux program
#   patcher-VERSION.deb                   the same as a Debian package
#   patcher-VERSION-windows-x86_64.exe    patcher.exe
#   SHA256SUMS                            the checksums of the three
# VERSION is the project's version in CMakeLists.txt. Every time stamp is the
# last commit's (SOURCE_DATE_EPOCH, unless set), so that one commit gives the
# same bytes at every build.
#
# Usage: tools/release.sh [--check] [--out DIR]
#   --check    build it all again from a copy of the tree in another folder
#              and compare the two byte for byte (twice the time)
#   --out DIR  put the files in DIR instead of out/release
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
usage() { sed -n '/^# Usage:/,/^[^#]/s/^# \{0,1\}//p' "$0"; }

check=0
out=$root/out/release
while [ $# -gt 0 ]; do
  case $1 in
    --check) check=1 ;;
    --out) out=$(realpath -m "${2:?--out needs a folder}"); shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
tools/install_deps.sh --check release

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || {
    echo "release: not a git checkout; set SOURCE_DATE_EPOCH" >&2
    exit 1
  }
fi
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: note: the tree has uncommitted changes; this is not the last commit's release" >&2
fi
# What else could differ between two builds: the time zone, the locale's
# sort order, the permissions of new files.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022
jobs=$(nproc)

# build SOURCE OUT: the release of the tree at SOURCE, into OUT; prints the
# names of the files made.
build() {
  local src=$1 dest=$2 version
  (
    cd "$src"
    rm -rf build-release build-release-windows
    cmake --preset release >/dev/null
    cmake --build --preset release -j"$jobs" >/dev/null
    (cd build-release && cpack -G DEB >/dev/null)
    cmake --preset release-windows >/dev/null
    cmake --build --preset release-windows -j"$jobs" >/dev/null
  )
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$src/build-release/CMakeCache.txt")
  rm -rf "$dest"
  mkdir -p "$dest"
  cp "$src/build-release/patcher" "$dest/patcher-$version-linux-x86_64"
  cp "$src/build-release/patcher-$version.deb" "$dest/"
  cp "$src/build-release-windows/patcher.exe" "$dest/patcher-$version-windows-x86_64.exe"
  (cd "$dest" && sha256sum "patcher-$version-linux-x86_64" "patcher-$version.deb" \
    "patcher-$version-windows-x86_64.exe" >SHA256SUMS)
}

build "$root" "$out"
echo "release: built in $out (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd "$out" && stat -c '  %s	%n' -- *)

if ((check)); then
  # The same files, another folder: equal bytes then also show that no path
  # of the source or build folder went into them.
  other=$(mktemp -d)
  trap 'rm -rf "$other"' EXIT
  mkdir "$other/src"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      [ -e "$file" ] && printf '%s\0' "$file"
    done | tar --null -T - -cf - | tar -xf - -C "$other/src"
  build "$other/src" "$other/out"
  different=0
  for file in "$out"/*; do
    name=$(basename "$file")
    if cmp "$file" "$other/out/$name"; then
      echo "reproducible: $name"
    else
      different=1
    fi
  done
  if ((different)); then
    echo "release: a second build in $other/src differs" >&2
    trap - EXIT
    exit 1
  fi
fi
