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

# Who may replace what, and what a replaced file stays, as CopyFileA has it:
# it rewrites the file it replaces. Run as an ordinary user (root ignores
# permission bits).
if can_switch_user; then
  # A folder the user may not write, holding files they may: they are
  # written in place, so they keep their inodes, and nothing new appears.
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$game/Data"
  inodes=$(stat -c %i "$game/Data/maps.mix" "$game/Data/sounds.mix")
  run as_user
  check "unwritable folder: status" 0 "$status"
  check_applied "unwritable folder"
  check "unwritable folder: written in place" "$inodes" \
    "$(stat -c %i "$game/Data/maps.mix" "$game/Data/sounds.mix")"
  check "unwritable folder: Data's names" "maps.mix sounds.mix" "$(cd "$game/Data" && echo *)"

  # A file the user may not write (root's, 0644) in a folder they may: it
  # is refused, as Windows refuses it, and stays root's and as it was.
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$game/Data/maps.mix"
  chmod 0777 "$game/Data"
  before=$(stat -c '%u:%g %a %i' "$game/Data/maps.mix"; cat "$game/Data/maps.mix")
  run as_user
  check "another's file: status" 1 "$status"
  check "another's file: boxes" "Warning: $(sed -n 2p <<<"$question")
Error: Could not copy file: $dir\\DATA\\maps.mix
Failed: Patch failed." "$(boxes)"
  check "another's file: detail" \
    "patcher: faccessat($work/prefix/dosdevices/c:/Games/Torvane 2000/Data/maps.mix): Permission denied" \
    "$(grep '^patcher: ' <<<"$err")"
  check "another's file: untouched" "$before" \
    "$(stat -c '%u:%g %a %i' "$game/Data/maps.mix"; cat "$game/Data/maps.mix")"
  check "another's file: others copied" "$(cat "$work/patch/game.dat" "$work/patch/sounds/sounds.mix")" \
    "$(cat "$game/game.dat" "$game/Data/sounds.mix")"

  # Replaced files stay what they were: the user's 0755 file stays 0755; a
  # file with a second name is written in place, so both names see the new
  # data; a file of a group the user is in, owned by root, in a shared
  # set-group-ID folder, keeps owner, group and bits.
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chmod 0755 "$game/game.dat"
  ln "$game/Data/maps.mix" "$work/prefix/drive_c/maps.bak"
  chown 0:4242 "$game/Data" "$game/Data/sounds.mix"
  chmod 2775 "$game/Data"
  chmod 0664 "$game/Data/sounds.mix"
  run as_user_in 4242
  check "kept: status" 0 "$status"
  check_applied kept
  check "kept: 0755 stays" "755 65534:65534" "$(stat -c '%a %u:%g' "$game/game.dat")"
  check "kept: second name sees the new data" "new maps 2" \
    "$(cat "$work/prefix/drive_c/maps.bak") $(stat -c %h "$game/Data/maps.mix")"
  check "kept: group-owned file" "664 0:4242" "$(stat -c '%a %u:%g' "$game/Data/sounds.mix")"
  check "kept: no new names" "Data game.dat" "$(cd "$game" && echo *)"

  # Root gives the new file the old one's owner too.
  fresh
  chown 65534:4242 "$game/game.dat"
  chmod 0640 "$game/game.dat"
  old_inode=$(stat -c %i "$game/game.dat")
  run
  check "root: status" 0 "$status"
  check "root: owner, group, bits kept" "640 65534:4242 new file" \
    "$(stat -c '%a %u:%g' "$game/game.dat") $([ "$(stat -c %i "$game/game.dat")" != "$old_inode" ] && echo new file)"
else
  echo "skipped: permission cases (need root to switch users)"
fi

summary
