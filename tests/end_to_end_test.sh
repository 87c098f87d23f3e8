#!/usr/bin/env bash
# Runs the built program on copies of the example prefix and patch, the way
# a player runs it on Linux, and checks console lines, boxes, files and exit
# statuses. Usage: end_to_end_test.sh path/to/patcher path/to/examples
set -uo pipefail
PATCHER=$1 EXAMPLES=$2
# shellcheck source=tests/scratch_env.sh
source "$(dirname "$0")/scratch_env.sh"

# Unlike the shared run(), this one takes the answer and the environment.
run() {  # run INPUT [env args]: runs in the patch folder, keeps out/err/status
  local input=$1
  shift
  status=0
  (cd "$work/patch" && printf '%s' "$input" |
    env "${@:-WINEPREFIX=$work/prefix}" "$patcher" extra args \
      >"$work/out" 2>"$work/err") || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

banner=$'Patcher 1.0\t\tNot made or supported by Quelvar\n   Written by the patcher team'
question=$(printf 'Warning\nThis patch brings Torvane 2000 to version 1.1.\n\nIt replaces three files:\n\tgame.dat\n\tData\\maps.mix\n\tData\\sounds.mix\n\nClose the game before you go on. Apply the patch now?\n[y/N] ')

# Yes: every file lands, mis-cased names find the files on disk, the
# read-only destination is made writable and replaced.
fresh
chmod 0444 "$game/Data/maps.mix"
run $'y\n'
check "yes: status" 0 "$status"
check "yes: console" "$banner
Game Installed in: '$dir'

game.dat -> $dir\\game.dat
maps.mix -> $dir\\DATA\\maps.mix
sounds\\sounds.mix -> $dir\\Data\\Sounds.mix" "$out"
check "yes: boxes" "$question"$'\nSuccess\nPatch successful' "$err"
check "yes: files" "$(cat "$work/patch/game.dat" "$work/patch/maps.mix" "$work/patch/sounds/sounds.mix")" \
  "$(cat "$game/game.dat" "$game/Data/maps.mix" "$game/Data/sounds.mix")"
check "yes: no new names" "Data game.dat" "$(cd "$game" && echo *)"
check "yes: data names" "maps.mix sounds.mix" "$(cd "$game/Data" && echo *)"
check "yes: read-only cleared" 644 "$(stat -c %a "$game/Data/maps.mix")"

# No, or no answer at all: nothing changes.
for input in $'n\n' ''; do
  fresh
  run "$input"
  check "no [$input]: status" 0 "$status"
  check "no [$input]: console" "$banner" "$out"
  check "no [$input]: boxes" "${question}" "$err"
  check "no [$input]: untouched" "old maps" "$(cat "$game/Data/maps.mix")"
done

# A list named in other case is found, as Windows finds it.
fresh
mv "$work/patch/move.txt" "$work/patch/MOVE.TXT"
run $'YES\n'
check "MOVE.TXT: status" 0 "$status"

# Failed checks: -2, -3, -1 reach the shell as 254, 253, 255.
fresh
rm "$work/patch/move.txt"
run $'y\n'
check "no list: status" 254 "$status"
check "no list: console" "$banner" "$out"
check "no list: box" $'Error\nVerification failed.  Missing required patching files.' "$err"
fresh
: >"$work/patch/move.txt"
run $'y\n'
check "empty list: status" 253 "$status"
check "empty list: box" $'Error\nVerification failed.  Patching file corrupted.' "$err"
fresh
run $'y\n' WINEPREFIX="$work/nowhere"
check "no prefix: status" 255 "$status"
check "no prefix: box" $'Error\nCannot determine installation directory' "$err"
fresh
run $'y\n' -u WINEPREFIX STEAM_COMPAT_DATA_PATH="$work/steam"
check "no proton prefix: status" 255 "$status"
mkdir -p "$work/steam" && mv "$work/prefix" "$work/steam/pfx"
run $'y\n' -u WINEPREFIX STEAM_COMPAT_DATA_PATH="$work/steam"
check "proton prefix: status" 0 "$status"
rm -rf "$work/steam"

# A copy that fails (no such directory) is reported; the others still land.
fresh
printf 'msg\r\nexe\r\ngame.dat,NoDir\\game.dat\r\nmaps.mix,Data\\maps.mix\r\n' >"$work/patch/move.txt"
run $'y\n'
check "failed copy: status" 1 "$status"
check "failed copy: boxes" "$(printf 'Warning\nmsg\n[y/N] \nError\nCould not copy file: %s\\NoDir\\game.dat\nFailed\nPatch failed.' "$dir")" \
  "$(grep -v '^patcher: ' <<<"$err")"
grep -q "^patcher: .*NoDir" <<<"$err" || fail "failed copy: no error detail"
check "failed copy: other landed" "new maps" "$(cat "$game/Data/maps.mix")"
check "failed copy: nothing made" "" "$(ls -A "$game" | grep -iv -e '^data$' -e '^game.dat$')"

# Later entries see what earlier ones did, though the copies run ahead: a
# source that an earlier entry replaced, a new name given again in other case.
fresh
printf '%s\r\n' msg exe 'maps.mix,Data\maps.mix' \
  'C:\Games\Torvane 2000\DATA\MAPS.MIX,Data\copy.mix' \
  'game.dat,Data\new.dat' 'sounds\sounds.mix,DATA\NEW.DAT' >"$work/patch/move.txt"
run $'y\n'
check "in order: status" 0 "$status"
check "in order: copy of the new file" "new maps" "$(cat "$game/Data/copy.mix")"
check "in order: later entry wins" "$(cat "$work/patch/sounds/sounds.mix")" \
  "$(cat "$game/Data/new.dat")"
check "in order: names" "copy.mix maps.mix new.dat sounds.mix" "$(cd "$game/Data" && echo *)"

# Permission failure, as an ordinary user: a folder they may not write to.
if command -v setpriv >/dev/null && [ "$(id -u)" = 0 ]; then
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$game/Data"
  status=0
  (cd "$work/patch" && echo y | WINEPREFIX="$work/prefix" setpriv --reuid=65534 \
    --regid=65534 --clear-groups "$patcher" >"$work/out" 2>"$work/err") || status=$?
  check "unwritable folder: status" 1 "$status"
  check "unwritable folder: old maps kept" "old maps" "$(cat "$game/Data/maps.mix")"
  check "unwritable folder: game.dat landed" "$(cat "$work/patch/game.dat")" "$(cat "$game/game.dat")"
  check "unwritable folder: two errors" 2 "$(grep -c '^Error$' "$work/err")"
else
  echo "skipped: permission case (needs root to switch users)"
fi

finish
