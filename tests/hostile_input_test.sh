#!/usr/bin/env bash
# Hostile patch lists and registry files, run through the built program: each
# ends in the outcome the list's and the registry's reading rules give, with
# its box and exit status, and the game's folder untouched where nothing may
# be copied. Usage: hostile_input_test.sh path/to/patcher path/to/examples
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"

missing='Error: Verification failed.  Missing required patching files.'
corrupt='Error: Verification failed.  Patching file corrupted.'
no_dir='Error: Cannot determine installation directory'
reg="$work/prefix/system.reg"

expect_refused() {  # expect_refused NAME STATUS BOX: nothing may change
  check "$1: status" "$2" "$status"
  check "$1: box" "$3" "$(boxes)"
  check "$1: game untouched" "$before" "$(snapshot)"
}

# NUL bytes end a line's text where they stand: after the comma they cut the
# destination, in the message they cut the message.
fresh
printf 'Apply\0 hidden?\n\ngame.dat,game.dat\0trailing junk\nmaps.mix,Data\\maps.mix\0\0\n' \
  >"$work/patch/move.txt"
run
check "NUL after comma: status" 0 "$status"
check "NUL after comma: boxes" "Warning: Apply
Success: Patch successful" "$(boxes)"
check "NUL after comma: copied" "new maps" "$(cat "$game/Data/maps.mix")"
# Before the comma the source is cut short and cannot be found.
fresh
before=$(snapshot)
printf 'Apply?\n\nmaps\0.mix,Data\\maps.mix\n' >"$work/patch/move.txt"
run
expect_refused "NUL before comma" 254 "$missing"

# A 10 MB line is read in pieces of 1023 characters. As the message: the
# rest becomes the exe name and entries that name no file.
fresh
before=$(snapshot)
head -c 10485760 /dev/zero | tr '\0' 'm' >"$work/patch/move.txt"
printf '\n\ngame.dat,game.dat\n' >>"$work/patch/move.txt"
run
expect_refused "10 MB message" 254 "$missing"
# As an entry after a good one: each piece is a source that does not exist.
fresh
before=$(snapshot)
{ printf 'Apply?\n\ngame.dat,game.dat\n'
  head -c 10485760 /dev/zero | tr '\0' 'x'; printf '\n'; } >"$work/patch/move.txt"
run
expect_refused "10 MB entry" 254 "$missing"
# The pieces of a long line are entries of their own: a 2046-character line
# "a,a,...": 1023 characters from a source `a`, then the rest, which starts
# with a comma (no source).
fresh
before=$(snapshot)
{ printf 'Apply?\n\n'; for _ in $(seq 1023); do printf 'a,'; done; printf '\n'; } \
  >"$work/patch/move.txt"
echo a >"$work/patch/a"
run
expect_refused "long line in pieces" 254 "$missing"

# Sources that do not open are named on standard error as the check finds
# them, in list order, the first 100 of them; one line counts the rest, and
# the box comes last.
for n in 1 100 101 250; do
  fresh
  before=$(snapshot)
  { printf 'Apply?\n\ngame.dat,game.dat\n'; seq -f 'gone%g' "$n"; } >"$work/patch/move.txt"
  run
  expect_refused "$n missing" 254 "$missing"
  expected=$(seq -f "patcher: open($work/patch/gone%g): No such file or directory" \
    "$((n < 100 ? n : 100))")
  more=$((n - 100)) s=s
  ((more != 1)) || s=
  ((more < 1)) || expected+=$'\n'"patcher: $more more source$s cannot be opened"
  check "$n missing: standard error" "$expected
${missing/: /$'\n'}" "$err"
done

# Binary junk without a Ctrl-Z: lines of random bytes name no files.
fresh
before=$(snapshot)
head -c 1048576 /dev/urandom | tr -d '\032' >"$work/patch/move.txt"
run
expect_refused "binary junk" 254 "$missing"
# With a Ctrl-Z first the data ends at once: the header is incomplete.
fresh
before=$(snapshot)
{ printf '\032'; head -c 65536 /dev/urandom; } >"$work/patch/move.txt"
run
expect_refused "Ctrl-Z first" 253 "$corrupt"

# The registry: each file below replaces the example's system.reg.
install_line='"Install Dir"="C:\\Games\\Torvane 2000"'
good_reg() {  # the header, then the arguments as lines, then the product key
  printf 'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n'
  printf '%s\n' "$@"
  printf '\n[Software\\\\Wow6432Node\\\\Quelvar\\\\Torvane 2000] 1796624407\n'
}
expect_found() {  # expect_found NAME: the game was found and patched
  check "$1: status" 0 "$status"
  check "$1: outcome" "Success: Patch successful" "$(boxes | tail -1)"
  check "$1: directory" "Game Installed in: '$dir'" "$(grep '^Game Installed' <<<"$out")"
}

# Cut off in the middle of a line: in the value, or in the key line.
fresh
before=$(snapshot)
{ good_reg; printf '"Install Dir"="C:\\\\Games\\\\Torv'; } >"$reg"
run
expect_refused "registry cut in value" 255 "$no_dir"
fresh
{ good_reg | head -c -20; } >"$reg"
run
expect_refused "registry cut in key line" 255 "$no_dir"
# Cut right after the value, without its line feed: complete.
fresh
{ good_reg; printf '%s' "$install_line"; } >"$reg"
run
expect_found "registry without last line feed"

# The same value as Wine writes data in hex, UTF-16LE with its terminator,
# continued over lines after a trailing `\`: whole, and cut after a `\`.
hex_value() {
  local text='C:\Games\Torvane 2000' i
  printf '"Install Dir"=hex(1):'
  for ((i = 0; i < ${#text}; i++)); do
    printf '%02x,00,' "'${text:i:1}"
    ((i % 8 == 7)) && printf '\\\n  '
  done
  printf '00,00\n'
}
fresh
{ good_reg; hex_value; } >"$reg"
run
expect_found "hex value over lines"
fresh
before=$(snapshot)
{ good_reg; hex_value | head -2; } >"$reg"
run
expect_refused "registry cut after a continuation" 255 "$no_dir"

# An unterminated quoted string: that value is left out, the next line is a
# value again.
fresh
{ good_reg; printf '"Broken"="no end\n%s\n' "$install_line"; } >"$reg"
run
expect_found "unterminated string before"
fresh
before=$(snapshot)
{ good_reg; printf '"Install Dir"="C:\\\\Games\\\\Torvane 2000\n'; } >"$reg"
run
expect_refused "unterminated Install Dir" 255 "$no_dir"

# A value of 100 MB: as Install Dir it does not fit; as another value of the
# key or of another key it is passed over.
hundred_mb() { head -c 104857600 /dev/zero | tr '\0' 'v'; }
fresh
before=$(snapshot)
{ good_reg; printf '"Install Dir"="'; hundred_mb; printf '"\n'; } >"$reg"
run
expect_refused "100 MB Install Dir" 255 "$no_dir"
fresh
{ good_reg; printf '"Big"="'; hundred_mb; printf '"\n%s\n' "$install_line"; } >"$reg"
run
expect_found "100 MB value before"
fresh
{ good_reg '[Software\\Wow6432Node\\Other] 1' "\"Big\"=hex:$(hundred_mb | head -c 1048576 | sed 's/v/00,/g')00"
  printf '%s\n' "$install_line"; } >"$reg"
run
expect_found "1 MB hex value in another key"
rm -f "$reg"

# A key line with no closing bracket is no key: the game's key is not found
# when it is the broken one, and found after a broken one.
fresh
before=$(snapshot)
{ good_reg | sed 's/\] 1796624407$/ 1796624407/'; printf '%s\n' "$install_line"; } >"$reg"
run
expect_refused "key line without ]" 255 "$no_dir"
fresh
{ good_reg '[Software\\Wow6432Node\\Quelvar 1' '"Install Dir"="C:\\Wrong"'
  printf '%s\n' "$install_line"; } >"$reg"
run
expect_found "broken key line before"

# NUL bytes in a registry line end the text there, as a C string does.
fresh
{ good_reg; printf '"Install Dir"="C:\\\\Games\\\\Torvane 2000\0junk"\n'; } >"$reg"
run
expect_found "NUL in the value"

# Binary junk, with or without the header line: nothing is found.
fresh
before=$(snapshot)
head -c 1048576 /dev/urandom >"$reg"
run
expect_refused "registry junk" 255 "$no_dir"
fresh
{ good_reg; head -c 1048576 /dev/urandom; } >"$reg"
run
expect_refused "junk after the key line" 255 "$no_dir"

# A registry that cannot be read: a directory in its place, or (as another
# user) a file they may not read.
fresh
before=$(snapshot)
rm "$reg" && mkdir "$reg"
run
expect_refused "registry is a directory" 255 "$no_dir"
if can_switch_user; then
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$reg" && chmod 0600 "$reg"
  before=$(snapshot)
  run as_user
  expect_refused "registry not readable" 255 "$no_dir"
else
  echo "skipped: unreadable registry (needs root to switch users)"
fi

summary
