#!/usr/bin/env bash
# Runs the static release program where nothing else is: in a new mount
# namespace whose root holds only the program, a scratch prefix and a patch
# (no C library, no C++ runtime, no locale data, no /proc, no /dev). It must
# patch there, find ~/.wine through /etc/passwd, and show its boxes on the
# console when a dialog program cannot start.
# Usage: minimal_root_test.sh path/to/static/patcher path/to/examples
# Needs root (for the namespace); skipped (77) otherwise.
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
  echo "skipped: needs root and unshare"
  exit 77
fi
unshare=$(command -v unshare)

# The root is $work itself: /patcher, /prefix, /patch.
cp "$patcher" "$work/patcher"

# in_root [NAME=VALUE...]: runs /patcher in /patch with only that
# environment, its standard input what the caller gives; keeps $out, $err,
# $status.
in_root() {
  status=0
  env -i "$@" "$unshare" --mount --propagation unchanged --root="$work" \
    --wd=/patch /patcher \
    >"$work/out" 2>"$work/err" || status=$?
  keep_output
}

fresh
chmod 0444 "$game/Data/maps.mix"
in_root WINEPREFIX=/prefix <<<y
check "yes: status" 0 "$status"
check_applied yes
check "yes: boxes" "Warning: This patch brings Torvane 2000 to version 1.1.
Success: Patch successful" "$(boxes)"
check "yes: no temporaries" "" "$(temporaries)"
check "yes: nothing else in the root" "err out patch patcher prefix" \
  "$(cd "$work" && echo *)"

# No HOME: the prefix is ~/.wine of the home that /etc/passwd names.
fresh
mkdir -p "$work/etc" "$work/home/player"
printf 'root:x:0:0:root:/home/player:/bin/sh\n' >"$work/etc/passwd"
mv "$work/prefix" "$work/home/player/.wine"
in_root <<<y
check "passwd home: status" 0 "$status"
check "passwd home: copied" "new maps" \
  "$(cat "$work/home/player/.wine/drive_c/Games/Torvane 2000/Data/maps.mix")"
rm -rf "${work:?}/etc" "${work:?}/home"

# Started as from a launcher (no input, a display) with a zenity that cannot
# run (a dynamically linked program without its loader): the boxes fall back
# to the console, and the missing answer is No.
fresh
mkdir -p "$work/usr/bin"
cp "$(type -P true)" "$work/usr/bin/zenity"
in_root WINEPREFIX=/prefix DISPLAY=:0 PATH=/usr/bin <&-
check "no dialogs: status" 0 "$status"
check "no dialogs: console" "$banner" "$out"
check "no dialogs: question on the console" \
  "Warning: This patch brings Torvane 2000 to version 1.1." "$(boxes)"
check "no dialogs: prompt" 1 "$(grep -c '^\[y/N\] $' <<<"$err")"
check "no dialogs: untouched" "old maps" "$(cat "$game/Data/maps.mix")"
rm -rf "${work:?}/usr"

summary
