#!/usr/bin/env bash
# Checks what tools/release.sh made: the four files and their checksums; a
# static, stripped Linux program without a path of the build in it; the exe;
# a .deb that lintian passes, holding that same program, its man page and
# documents; one version in file names, banner, exe resources and package.
# Then runs the end-to-end suite and the minimal-root suite on the static
# program. Usage: release_test.sh path/to/out/release path/to/examples
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
out=$(readlink -f "$1")
examples=$(readlink -f "$2")
source_dir=$(dirname "$examples")
here=$(dirname "$0")
need release file lintian man

linux=$(cd "$out" && echo patcher-*-linux-x86_64)
version=${linux#patcher-}
version=${version%-linux-x86_64}
bin=$out/$linux
exe=$out/patcher-$version-windows-x86_64.exe
deb=$out/patcher-$version.deb
check "files" "SHA256SUMS $linux patcher-$version-windows-x86_64.exe patcher-$version.deb" \
  "$(cd "$out" && echo *)"
check "checksums" "$linux: OK
patcher-$version.deb: OK
patcher-$version-windows-x86_64.exe: OK" "$(cd "$out" && sha256sum -c SHA256SUMS 2>&1)"

# The Linux program: linked statically (as a static PIE), stripped, and
# showing the version in its banner.
check "linux: static, stripped" "static-pie linked stripped" \
  "$(file -b "$bin" | grep -o -e 'static-pie linked' -e 'not stripped' -e 'stripped' | xargs)"
check "linux: ldd" "statically linked" "$(ldd "$bin" 2>&1 | xargs)"
# (No display: a dialog would wait for a click.)
banner_line=$(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY "$bin" </dev/null 2>/dev/null | head -n1)
check "linux: banner version" "Patcher $version" "${banner_line%%$'\t'*}"

# The exe: its version block names the same version.
check "exe: type" "PE32+ executable (console) x86-64" "$(file -b "$exe" | grep -o 'PE32+ executable (console) x86-64')"
check "exe: versions" "FileVersion $version.0.0 ProductVersion $version" \
  "$(strings -n3 -el "$exe" | grep -A1 -x -e FileVersion -e ProductVersion | grep -v -- -- | xargs)"

# No path of the source folder (or of build folders below it) in any file.
for file in "$bin" "$exe"; do
  check "no build path: $(basename "$file")" 0 "$(grep -c -a -F "$source_dir" "$file")"
done

# The package: its fields, its files, the same program, a man page that man
# reads without a warning, and nothing lintian calls an error or a warning.
check "deb: fields" "patcher $version amd64" \
  "$(dpkg-deb -f "$deb" Package Version Architecture | sed 's/^[^:]*: //' | xargs)"
check "deb: files" "./usr/bin/patcher
./usr/share/doc/patcher/README.md
./usr/share/doc/patcher/changelog.gz
./usr/share/doc/patcher/copyright
./usr/share/lintian/overrides/patcher
./usr/share/man/man1/patcher.1.gz" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)"
dpkg-deb -x "$deb" "$work/deb"
check "deb: the static program" "" "$(cmp "$bin" "$work/deb/usr/bin/patcher" 2>&1)"
page=$(MANWIDTH=80 man --warnings -l "$work/deb/usr/share/man/man1/patcher.1.gz" 2>"$work/man_warnings")
check "man: no warnings" "" "$(cat "$work/man_warnings")"
check "man: name" "patcher - apply a file-replacement patch to a game in a Wine or Proton" \
  "$(grep -A1 '^NAME' <<<"$page" | tail -n1 | xargs)"
check "man: version" 1 "$(tail -n1 <<<"$page" | grep -c "patcher $version")"
for section in DESCRIPTION "THE PATCH LIST" ENVIRONMENT "EXIT STATUS" FILES; do
  check "man: $section" 1 "$(grep -c -x "$section" <<<"$page")"
done
findings=$(lintian --fail-on error,warning "$deb" 2>&1)
check "deb: lintian status" 0 "$?"
check "deb: lintian findings" "" "$(grep -v 'running with root' <<<"$findings")"

summary
status=$?
for suite in end_to_end minimal_root; do
  echo "== $suite on $linux"
  bash "$here/${suite}_test.sh" "$bin" "$examples"
  code=$?
  [ "$code" = 0 ] || [ "$code" = 77 ] || status=1
done
exit "$status"
