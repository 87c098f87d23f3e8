#!/usr/bin/env bash
# Runs the built program on copies of the example prefix and patch, the way
# a player runs it on Linux, and checks console lines, boxes, files and exit
# statuses. Usage: end_to_end_test.sh path/to/patcher path/to/examples
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"
program_args=(extra args)  # arguments it does not take are passed over

question=$(printf 'Warning\nThis patch brings Torvane 2000 to version 1.1.\n\nIt replaces three files:\n\tgame.dat\n\tData\\maps.mix\n\tData\\sounds.mix\n\nClose the game before you go on. Apply the patch now?\n[y/N] ')

# Yes: every file lands, mis-cased names find the files on disk, the
# read-only destination is made writable and replaced.
fresh
chmod 0444 "$game/Data/maps.mix"
run
check "yes: status" 0 "$status"
check_applied yes
check "yes: boxes" "$question"$'\nSuccess\nPatch successful' "$err"
check "yes: no new names" "Data game.dat" "$(cd "$game" && echo *)"
check "yes: data names" "maps.mix sounds.mix" "$(cd "$game/Data" && echo *)"
check "yes: read-only cleared" 644 "$(stat -c %a "$game/Data/maps.mix")"

# No, or no answer at all: nothing changes.
for input in $'n\n' ''; do
  fresh
  run_answering "$input"
  check "no [$input]: status" 0 "$status"
  check "no [$input]: console" "$banner" "$out"
  check "no [$input]: boxes" "${question}" "$err"
  check "no [$input]: untouched" "old maps" "$(cat "$game/Data/maps.mix")"
done

# A list named in other case is found, as Windows finds it.
fresh
mv "$work/patch/move.txt" "$work/patch/MOVE.TXT"
run_answering $'YES\n'
check "MOVE.TXT: status" 0 "$status"

# Failed checks: -2, -3, -1 reach the shell as 254, 253, 255.
fresh
rm "$work/patch/move.txt"
run
check "no list: status" 254 "$status"
check "no list: console" "$banner" "$out"
check "no list: box" $'Error\nVerification failed.  Missing required patching files.' "$err"
# Missing sources: the box stays as it is; standard error names each
# source that does not open, in list order, before the box.
fresh
list 'gone.mix,Data\maps.mix' 'game.dat,game.dat' 'Sub\also gone.dat,x.dat'
run
check "missing sources: status" 254 "$status"
check "missing sources: stderr" "patcher: open($work/patch/gone.mix): No such file or directory
patcher: open($work/patch/Sub/also gone.dat): No such file or directory
Error
Verification failed.  Missing required patching files." "$err"
fresh
: >"$work/patch/move.txt"
run
check "empty list: status" 253 "$status"
check "empty list: box" $'Error\nVerification failed.  Patching file corrupted.' "$err"
fresh
run env WINEPREFIX="$work/nowhere"
check "no prefix: status" 255 "$status"
check "no prefix: box" $'Error\nCannot determine installation directory' "$err"
fresh
run env -u WINEPREFIX STEAM_COMPAT_DATA_PATH="$work/steam"
check "no proton prefix: status" 255 "$status"
mkdir -p "$work/steam" && mv "$work/prefix" "$work/steam/pfx"
run env -u WINEPREFIX STEAM_COMPAT_DATA_PATH="$work/steam"
check "proton prefix: status" 0 "$status"
rm -rf "$work/steam"

# A copy that fails (no such directory) is reported; the others still land.
fresh
printf 'msg\r\nexe\r\ngame.dat,NoDir\\game.dat\r\nmaps.mix,Data\\maps.mix\r\n' >"$work/patch/move.txt"
run
check "failed copy: status" 1 "$status"
check "failed copy: boxes" "$(printf 'Warning\nmsg\n[y/N] \nError\nCould not copy file: %s\\NoDir\\game.dat\nFailed\nPatch failed.' "$dir")" \
  "$(grep -v '^patcher: ' <<<"$err")"
grep -q "^patcher: .*NoDir" <<<"$err" || fail "failed copy: no error detail"
check "failed copy: other landed" "new maps" "$(cat "$game/Data/maps.mix")"
check "failed copy: nothing made" "" \
  "$(find "$game" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -iv -e '^data$' -e '^game.dat$')"

# Later entries see what earlier ones did, though the copies run ahead: a
# source that an earlier entry replaced, a new name given again in other case.
fresh
printf '%s\r\n' msg exe 'maps.mix,Data\maps.mix' \
  'C:\Games\Torvane 2000\DATA\MAPS.MIX,Data\copy.mix' \
  'game.dat,Data\new.dat' 'sounds\sounds.mix,DATA\NEW.DAT' >"$work/patch/move.txt"
run
check "in order: status" 0 "$status"
check "in order: copy of the new file" "new maps" "$(cat "$game/Data/copy.mix")"
check "in order: later entry wins" "$(cat "$work/patch/sounds/sounds.mix")" \
  "$(cat "$game/Data/new.dat")"
check "in order: names" "copy.mix maps.mix new.dat sounds.mix" "$(cd "$game/Data" && echo *)"

# A list saved in Windows-1252 (the ANSI code page of LANG=C.UTF-8) names
# Données\ and é, which are UTF-8 on disk, one of them in the wrong case.
# The console shows UTF-8 in a UTF-8 locale and the list's bytes in C; a
# damaged table file in the prefix gives way to the built-in one.
cp1252_patch() {
  fresh
  mkdir -p "$game/Données"
  echo "old été" >"$game/Données/été.txt"
  echo "new é" >"$work/patch/carte é.mix"
  printf 'Mise \xe0 jour\n\ncarte \xe9.mix,Donn\xe9es\\carte \xe9.mix\ncarte \xe9.mix,DONN\xc9ES\\\xc9T\xc9.TXT\n' \
    >"$work/patch/move.txt"
}
cp1252_console="$banner
Game Installed in: '$dir'

carte é.mix -> $dir\\Données\\carte é.mix
carte é.mix -> $dir\\DONNÉES\\ÉTÉ.TXT"
cp1252_patch
run env LANG=C.UTF-8 LC_ALL= LC_CTYPE=
check "cp1252: status" 0 "$status"
check "cp1252: console" "$cp1252_console" "$out"
check "cp1252: question" $'Warning\nMise à jour' "$(head -2 <<<"$err")"
check "cp1252: names" "carte é.mix été.txt" "$(cd "$game/Données" && echo *)"
check "cp1252: files" "new é
new é" "$(cat "$game/Données/carte é.mix" "$game/Données/été.txt")"
cp1252_patch
mkdir -p "$work/prefix/drive_c/windows/system32"
printf '\x0d\x00\xe4\x04\x01\x00' >"$work/prefix/drive_c/windows/system32/c_1252.nls"
head -c 1000 /dev/urandom >"$work/prefix/drive_c/windows/system32/l_intl.nls"
run env LC_ALL=C
check "cp1252 in C: status" 0 "$status"
check "cp1252 in C: console" "$(iconv -f UTF-8 -t WINDOWS-1252 <<<"$cp1252_console")" "$out"
check "cp1252 in C: files" "new é" "$(cat "$game/Données/été.txt")"

# Permission failure, as an ordinary user: a folder they may not write to.
if can_switch_user; then
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$game/Data"
  run as_user
  check "unwritable folder: status" 1 "$status"
  check "unwritable folder: old maps kept" "old maps" "$(cat "$game/Data/maps.mix")"
  check "unwritable folder: game.dat landed" "$(cat "$work/patch/game.dat")" "$(cat "$game/game.dat")"
  check "unwritable folder: two errors" 2 "$(grep -c '^Error$' "$work/err")"
else
  echo "skipped: permission case (needs root to switch users)"
fi

summary
