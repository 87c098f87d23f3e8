#!/usr/bin/env bash
# Runs patcher.exe under Wine in a throwaway 64-bit prefix, the way a player
# runs it on Windows: registry keys written as a 32-bit game's installer
# writes them, boxes answered by box_driver.exe (which records each box's
# caption, buttons and exact text). Checks console lines, boxes, exit status
# and the game's files for each scenario. Then runs the native Linux build
# on the same prefix and patch folders and checks that the two agree.
#
# Usage: wine_test.sh patcher.exe box_driver.exe [native/patcher]
# Exits 77 (skipped) when wine64 or Xvfb is missing.
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
exe=$(readlink -f "$1")
driver=$(readlink -f "$2")
native=""
if [ -n "${3:-}" ] && [ -x "$3" ]; then native=$(readlink -f "$3"); fi
# Debian keeps wine64 and wineserver out of PATH.
PATH=/usr/lib/wine:$PATH
need wine wine64 wineserver Xvfb

started=$SECONDS
# A locale every machine has: ANSI code page 1252 and UTF-8 file names, for
# Wine and the Linux build alike. (Wine reads file names as ASCII in a
# locale that is not installed.)
export LC_ALL=C.UTF-8
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
start_xvfb
stop_wine() { wineserver -k 2>/dev/null; }
at_exit stop_wine

wine64 wineboot -i >"$work/wineboot.log" 2>&1 ||
  { echo "FAIL: wineboot"; cat "$work/wineboot.log"; exit 1; }
echo "prefix ready in $((SECONDS - started)) s"

drive_c="$WINEPREFIX/drive_c"
winpath() { local p=${1//\//\\}; echo "Z:$p"; }  # a Unix path as Wine sees it
reg() { wine64 reg "$@" /reg:32 /f >/dev/null; }

# The game, as its installer left it, and the patch folders. Every file holds
# one line saying what it is, so that a tree reads as expected results.
game_dir='C:\Games\Torvane 2000'
game="$drive_c/Games/Torvane 2000"
ap_dir='C:\Program Files (x86)\Quelvar\Torvane 2000'
ap_game="$drive_c/Program Files (x86)/Quelvar/Torvane 2000"
pristine="$work/pristine"
mkdir -p "$pristine/Data"
echo "old game" >"$pristine/game.dat"
echo "old maps" >"$pristine/Data/maps.mix"
echo "old sounds" >"$pristine/Data/sounds.mix"
reset_games() {
  rm -rf "$game" "$ap_game"
  mkdir -p "$(dirname "$game")" "$(dirname "$ap_game")"
  cp -a "$pristine" "$game"
  cp -a "$pristine" "$ap_game"
}
tree_of() {  # one line per entry: path|content or dir|rw or ro
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while read -r f; do
    local content=dir access=rw
    [ -f "$f" ] && content=$(tr -d '\r\n' <"$f")
    [[ $(stat -c %A "$f") == *w* ]] || access=ro
    echo "${f#./}|$content|$access"
  done)
}
untouched=$(tree_of "$pristine")

patches="$drive_c/patches"
new_patch() {  # new_patch NAME LIST: a patch folder with move.txt = LIST
  local dir="$patches/$1"
  mkdir -p "$dir/sounds"
  echo "new game" >"$dir/game.dat"
  echo "new maps" >"$dir/maps.mix"
  echo "new sounds" >"$dir/sounds/sounds.mix"
  echo "new mix" >"$dir/new.mix"
  [ -z "$2" ] || printf '%s' "$2" >"$dir/move.txt"
}
# A list as Windows tools write it: CR LF line ends.
message='Torvane 2000 patch 1.1\n\nIt replaces game.dat and two files in Data.\tApply it now?'
crlf() { printf '%s\r\n' "$@"; }
new_patch several "$(crlf "$message" torvane.exe game.dat,game.dat \
  'maps.mix,Data\maps.mix' 'new.mix,Data\new.mix' 'sounds\sounds.mix,Data\sounds.mix')"
new_patch no_list ""
new_patch empty_list ""
: >"$patches/empty_list/move.txt"
new_patch failed_copy "$(crlf msg torvane.exe game.dat,game.dat \
  'maps.mix,Missing\maps.mix' 'sounds\sounds.mix,Data\sounds.mix')"
new_patch read_only "$(crlf msg torvane.exe 'maps.mix,Data\maps.mix')"
# A read-only source: its copy is read-only too, as CopyFileA makes it, and
# is renamed into place after it has become so.
new_patch ro_source "$(crlf msg torvane.exe 'maps.mix,Data\maps.mix')"
chmod 0444 "$patches/ro_source/maps.mix"
new_patch app_path "$(crlf msg TORVANE2000.EXE game.dat,game.dat)"
new_patch no_install_dir "$(crlf msg Missing.exe game.dat,game.dat)"
new_patch held "$(crlf msg torvane.exe game.dat,game.dat 'maps.mix,Data\maps.mix' \
  'sounds\sounds.mix,Data\sounds.mix')"
# A list saved in Windows-1252: names beyond ASCII, one of them mis-cased,
# that are UTF-8 on disk (donnees_folder makes the folder in the game).
new_patch cp1252 "$(printf 'Mise \xe0 jour\r\ntorvane.exe\r\ncarte \xe9.mix,Donn\xe9es\\carte \xe9.mix\r\ncarte \xe9.mix,DONN\xc9ES\\\xc9T\xc9.TXT\r\n')"
echo "new é" >"$patches/cp1252/carte é.mix"
donnees_folder() { mkdir -p "$game/Données"; echo "old été" >"$game/Données/été.txt"; }

progress() {  # the console of a copy pass: progress DIR SOURCE DEST ...
  local dir=$1
  shift
  printf "Game Installed in: '%s'\n\n" "$dir"
  while [ $# -gt 0 ]; do printf '%s -> %s\\%s\n' "$1" "$dir" "$2"; shift 2; done
}
esc() { local s=${1//\\/\\\\}; echo "${s//$'\t'/\\t}"; }  # as box_driver logs

# run_windows NAME PATCH ANSWERS [box_driver flags]: runs patcher.exe in the
# patch folder with box_driver answering; results go to $work/NAME.win.
run_windows() {
  local name=$1 patch=$2 answers=$3 r="$work/$1.win"
  shift 3
  mkdir -p "$r"
  local t0=$SECONDS
  rm -f "$work/stop" "$work/ready"
  wine64 "$driver" --log "$(winpath "$r/boxes")" --stop "$(winpath "$work/stop")" \
    --answers "$answers" --stdout "$(winpath "$r/out")" "$@" >"$r/driver.err" 2>&1 &
  local driver_pid=$!
  if [[ " $* " == *" --ready "* ]]; then
    for _ in $(seq 200); do [ -e "$work/ready" ] && break; sleep 0.05; done
  fi
  local status=0
  (cd "$patches/$patch" && timeout 60 wine64 "$exe" extra args >"$r/out" 2>"$r/err") ||
    status=$?
  echo "$status" >"$r/status"
  touch "$work/stop"
  wait "$driver_pid" || fail "$name: box_driver: $(cat "$r/driver.err")"
  tree_of "$game" >"$r/tree"
  tree_of "$ap_game" >"$r/ap_tree"
  echo "$name: ran under Wine in $((SECONDS - t0)) s"
}

# check_windows NAME STATUS CONSOLE BOXES TREE [AP_TREE]: BOXES as box_driver
# logs them, with the console's line count at each box.
check_windows() {
  local name=$1 r="$work/$1.win"
  check "$name: exit status" "$2" "$(cat "$r/status")"
  check "$name: console" "$3" "$(sed 's/\r$//' "$r/out")"
  check "$name: console lines end in CR LF" "" "$(grep -v $'\r$' "$r/out")"
  check "$name: boxes" "$4" "$(cat "$r/boxes")"
  check "$name: game files" "$5" "$(cat "$r/tree")"
  check "$name: other game files" "${6:-$untouched}" "$(cat "$r/ap_tree")"
}

# run_native NAME PATCH INPUT [SETUP]: the Linux build on the same prefix,
# after Wine has saved the registry, on the games as reset_games and SETUP
# leave them; compared with NAME.win.
run_native() {
  local name=$1 patch=$2 input=$3 setup=${4:-true} r="$work/$1.native" w="$work/$1.win"
  [ -n "$native" ] || return 0
  mkdir -p "$r"
  reset_games
  $setup
  local status=0
  (cd "$patches/$patch" && printf '%s' "$input" |
    timeout 20 "$native" extra args >"$r/out" 2>"$r/err") || status=$?
  check "$name: same exit status on Linux" "$(cat "$w/status")" "$status"
  # Each console in its own encoding: Windows-1252 there, UTF-8 here.
  check "$name: same console on Linux" \
    "$(sed 's/\r$//' "$w/out" | iconv -f WINDOWS-1252 -t UTF-8)" "$(cat "$r/out")"
  # The Windows boxes as the Linux build writes them: caption, text, and the
  # prompt of a Yes/No box.
  local boxes=""
  while IFS='|' read -r caption buttons rest; do
    [ "$caption" != released ] || continue
    boxes+="$caption"$'\n'"$(printf '%b' "${rest%|*}")"$'\n'
    [ "$buttons" != YESNO ] || boxes+=$'[y/N] \n'
  done < <(iconv -f WINDOWS-1252 -t UTF-8 "$w/boxes")
  check "$name: same boxes on Linux" "$boxes" "$(grep -v '^patcher: ' "$r/err")"$'\n'
  check "$name: same files on Linux" "$(cat "$w/tree")" "$(tree_of "$game")"
  check "$name: same other files on Linux" "$(cat "$w/ap_tree")" "$(tree_of "$ap_game")"
}

flush_registry() {  # lets Wine's server exit, which writes system.reg
  local t0=$SECONDS
  wineserver -w
  echo "registry saved in $((SECONDS - t0)) s"
}

# --- The game installed: its product key in the 32-bit view. A key of the
# first name in the 64-bit view only is a decoy a 32-bit program never sees.
reg add 'HKLM\Software\Quelvar\Torvane 2000' /v 'Install Dir' /d "$game_dir"
wine64 reg add 'HKLM\Software\Quelvar\Torvane' /v 'Install Dir' /d 'C:\Decoy' \
  /reg:64 /f >/dev/null
reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Torvane2000.exe' \
  /v Path /d "$ap_dir"

expanded=$(esc "$(printf '%b' "$message")")
expanded=${expanded//$'\n'/\\n}

reset_games
run_windows several several yes
check_windows several 0 "$banner
$(progress "$game_dir" game.dat game.dat maps.mix 'Data\maps.mix' new.mix 'Data\new.mix' \
  'sounds\sounds.mix' 'Data\sounds.mix')" \
  "Warning|YESNO|$expanded|2
Success|OK|Patch successful|8" \
  "Data|dir|rw
Data/maps.mix|new maps|rw
Data/new.mix|new mix|rw
Data/sounds.mix|new sounds|rw
game.dat|new game|rw"

reset_games
run_windows declined several no
check_windows declined 0 "$banner" "Warning|YESNO|$expanded|2" "$untouched"

reset_games
run_windows no_list no_list ok
check_windows no_list 254 "$banner" \
  "Error|OK|Verification failed.  Missing required patching files.|2" "$untouched"

reset_games
run_windows empty_list empty_list ok
check_windows empty_list 253 "$banner" \
  "Error|OK|Verification failed.  Patching file corrupted.|2" "$untouched"

reset_games
run_windows failed_copy failed_copy yes,ok,ok
check_windows failed_copy 1 "$banner
$(progress "$game_dir" game.dat game.dat maps.mix 'Missing\maps.mix' \
  'sounds\sounds.mix' 'Data\sounds.mix')" \
  "Warning|YESNO|msg|2
Error|OK|$(esc "Could not copy file: $game_dir\\Missing\\maps.mix")|6
Failed|OK|Patch failed.|7" \
  "Data|dir|rw
Data/maps.mix|old maps|rw
Data/sounds.mix|new sounds|rw
game.dat|new game|rw"
check "failed_copy: stderr names the call and the path" 1 \
  "$(grep -c '^patcher: [A-Za-z]*(.*Missing.*): ' "$work/failed_copy.win/err")"

maps_read_only() { chmod 0444 "$game/Data/maps.mix"; }
reset_games
maps_read_only
run_windows read_only read_only yes,ok
check_windows read_only 0 "$banner
$(progress "$game_dir" maps.mix 'Data\maps.mix')" \
  "Warning|YESNO|msg|2
Success|OK|Patch successful|5" \
  "Data|dir|rw
Data/maps.mix|new maps|rw
Data/sounds.mix|old sounds|rw
game.dat|old game|rw"

reset_games
run_windows ro_source ro_source yes,ok
check_windows ro_source 0 "$banner
$(progress "$game_dir" maps.mix 'Data\maps.mix')" \
  "Warning|YESNO|msg|2
Success|OK|Patch successful|5" \
  "Data|dir|rw
Data/maps.mix|new maps|ro
Data/sounds.mix|old sounds|rw
game.dat|old game|rw"

reset_games
donnees_folder
run_windows cp1252 cp1252 yes,ok
carte=$(printf 'carte \xe9.mix')
check_windows cp1252 0 "$banner
$(progress "$game_dir" "$carte" "$(printf 'Donn\xe9es\\%s' "$carte")" \
  "$carte" "$(printf 'DONN\xc9ES\\\xc9T\xc9.TXT')")" \
  "$(printf 'Warning|YESNO|Mise \xe0 jour|2\nSuccess|OK|Patch successful|6')" \
  "Data|dir|rw
Data/maps.mix|old maps|rw
Data/sounds.mix|old sounds|rw
Données|dir|rw
Données/carte é.mix|new é|rw
Données/été.txt|new é|rw
game.dat|old game|rw"

# A destination in a folder of 250 characters: a temporary beside it would
# not fit in MAX_PATH, where CopyFileA takes paths of up to 259 characters,
# so it is copied straight onto the destination, which (under Wine) keeps
# its inode. Windows refuses such a temporary; Wine's GetTempFileNameA
# makes it but cuts its name to MAX_PATH bytes without a terminator.
long_name=$(printf 'L%.0s' $(seq 228))
check "long_folder: the folder's path is 250 characters" 250 "$(printf '%s' "$game_dir\\$long_name" | wc -c)"
new_patch long_folder "$(crlf msg torvane.exe "maps.mix,$long_name\\maps.mix")"
long_folder() { mkdir "$game/$long_name" && echo "old maps" >"$game/$long_name/maps.mix"; }
reset_games
long_folder
long_inode=$(stat -c %i "$game/$long_name/maps.mix")
run_windows long_folder long_folder yes,ok
check "long_folder: copied straight onto the file (no rename)" "$long_inode" \
  "$(stat -c %i "$game/$long_name/maps.mix")"
check_windows long_folder 0 "$banner
$(progress "$game_dir" maps.mix "$long_name\\maps.mix")" \
  "Warning|YESNO|msg|2
Success|OK|Patch successful|5" \
  "Data|dir|rw
Data/maps.mix|old maps|rw
Data/sounds.mix|old sounds|rw
$long_name|dir|rw
$long_name/maps.mix|new maps|rw
game.dat|old game|rw"

# Another Windows process holds Data\maps.mix open without sharing: the copy
# waits for it, here until the copy's temporary shows the program waiting.
# Linux does not see Wine's sharing rules, so these two are Windows only.
held_console="$banner
$(progress "$game_dir" game.dat game.dat maps.mix 'Data\maps.mix' \
  'sounds\sounds.mix' 'Data\sounds.mix')"
reset_games
run_windows held_briefly held yes,ok --hold 'C:\Games\Torvane 2000\Data\maps.mix' \
  --ready "$(winpath "$work/ready")" --release-after 1 \
  --release-when 'C:\Games\Torvane 2000\Data\.maps.mix.patcher-*'
check_windows held_briefly 0 "$held_console" \
  "Warning|YESNO|msg|2
released|while waited for
Success|OK|Patch successful|7" \
  "Data|dir|rw
Data/maps.mix|new maps|rw
Data/sounds.mix|new sounds|rw
game.dat|new game|rw"

reset_games
run_windows held_throughout held yes,ok,ok \
  --hold 'C:\Games\Torvane 2000\Data\maps.mix' --ready "$(winpath "$work/ready")"
check_windows held_throughout 1 "$held_console" \
  "Warning|YESNO|msg|2
Error|OK|$(esc "Could not copy file: $game_dir\\Data\\maps.mix")|6
Failed|OK|Patch failed.|7" \
  "Data|dir|rw
Data/maps.mix|old maps|rw
Data/sounds.mix|new sounds|rw
game.dat|new game|rw"

flush_registry
run_native several several $'y\n'
run_native declined several $'n\n'
run_native no_list no_list ""
run_native empty_list empty_list ""
run_native failed_copy failed_copy $'y\n'
run_native read_only read_only $'y\n' maps_read_only
run_native cp1252 cp1252 $'y\n' donnees_folder
run_native long_folder long_folder $'y\n' long_folder

# --- No product key any more: the game is found through its executable's
# application path, which 32-bit and 64-bit programs share.
reg delete 'HKLM\Software\Quelvar'

reset_games
run_windows app_path app_path yes,ok
check_windows app_path 0 "$banner
$(progress "$ap_dir" game.dat game.dat)" \
  "Warning|YESNO|msg|2
Success|OK|Patch successful|5" \
  "$untouched" \
  "Data|dir|rw
Data/maps.mix|old maps|rw
Data/sounds.mix|old sounds|rw
game.dat|new game|rw"

reset_games
run_windows no_install_dir no_install_dir ok
check_windows no_install_dir 255 "$banner" \
  "Error|OK|Cannot determine installation directory|2" "$untouched"

flush_registry
run_native app_path app_path $'y\n'
run_native no_install_dir no_install_dir ""

# --- Many files in three folders of the game (found through its application
# path now), each old and new file of its own data: a run killed by
# `wineserver -k` at several moments leaves each destination whole old or
# whole new, and the next run removes the temporaries it left and finishes;
# and a second run started while the first copies waits for it and
# finishes too.
many="$patches/many" many_old="$work/many_old" many_count=300
mkdir -p "$many/files"
crlf msg TORVANE2000.EXE >"$many/move.txt"
for i in $(seq 1000 $((999 + many_count))); do
  rel="D$((i % 3))/f$i.dat"
  mkdir -p "$many/files/${rel%/*}" "$many_old/${rel%/*}"
  head -c 65536 /dev/urandom >"$many/files/$rel"
  head -c 65536 /dev/urandom >"$many_old/$rel"
  crlf "files\\${rel//\//\\},Many\\${rel//\//\\}" >>"$many/move.txt"
done
sums() { (cd "$1" && md5sum D*/f*.dat); }
sums "$many_old" >"$work/many_old.sums"
sums "$many/files" >"$work/many_new.sums"
reset_many() { rm -rf "$ap_game/Many" && cp -a "$many_old" "$ap_game/Many"; }
# many_state: "OLD NEW TORN" files of the game's Many folder, and the
# temporaries in it.
many_state() {
  sums "$ap_game/Many" | awk -v old="$work/many_old.sums" -v new="$work/many_new.sums" '
    BEGIN { while ((getline l < old) > 0) { split(l, f, " "); o[f[2]] = f[1] }
            while ((getline l < new) > 0) { split(l, f, " "); n[f[2]] = f[1] } }
    { if ($1 == o[$2]) a++; else if ($1 == n[$2]) b++; else c++ }
    END { printf "%d %d %d", a, b, c }'
  echo " $(find "$ap_game/Many" -name '.*.patcher-*' | wc -l)"
}
# start_many NAME ANSWERS [PATCH]: patcher.exe on the many patch (or PATCH)
# in the background (its pid in many_pid), with box_driver answering
# (driver_pid).
start_many() {
  local r="$work/$1.win"
  mkdir -p "$r"
  rm -f "$work/stop"
  wine64 "$driver" --log "$(winpath "$r/boxes")" --stop "$(winpath "$work/stop")" \
    --answers "$2" --stdout "$(winpath "$r/out")" >"$r/driver.err" 2>&1 &
  driver_pid=$!
  (cd "${3:-$many}" && exec timeout 120 wine64 "$exe" >"$r/out" 2>"$r/err") &
  many_pid=$!
}
# wait_many NAME: waits for start_many's run; its status goes to NAME.win.
wait_many() {
  local status=0
  wait "$many_pid" || status=$?
  echo "$status" >"$work/$1.win/status"
  touch "$work/stop"
  wait "$driver_pid" || true
}
copy_lines() { grep -c ' -> ' "$work/$1.win/out" 2>/dev/null || true; }

under_way=0
for moment in temporary 1 60 150; do
  name="killed_at_$moment"
  reset_many
  start_many "$name" yes,ok
  for _ in $(seq 1500); do
    if [ "$moment" = temporary ]; then
      [ -z "$(find "$ap_game/Many" -name '.*.patcher-*' -print -quit)" ] || break
    else
      [ "$(copy_lines "$name")" -lt "$moment" ] || break
    fi
    sleep 0.01
  done
  wineserver -k
  wait_many "$name"
  read -r old new torn left <<<"$(many_state)"
  echo "$name: killed after $(copy_lines "$name") copies: $old old, $new new, $left temporaries"
  check "$name: every file whole old or whole new" 0 "$torn"
  check "$name: every file there" "$many_count" "$((old + new))"
  # The kill lands some time after the moment is seen: it may come late.
  ((old == 0)) || under_way=$((under_way + 1))
  start_many "$name.again" yes,ok
  wait_many "$name.again"
  r="$work/$name.again.win"
  check "$name: the next run succeeds" "0 Success" \
    "$(cat "$r/status") $(cut -d'|' -f1 "$r/boxes" | tail -1)"
  check "$name: the next run finishes the patch" "0 $many_count 0 0" "$(many_state)"
  check "$name: the next run says what it removed" "$left" \
    "$(sed 's/\r$//' "$r/err" | grep -c '^patcher: removed .*\\Many\\D[0-2]\\\.f[0-9]*\.dat\.patcher-[A-Za-z0-9]\{6\}, left by an interrupted run$')"
done

check "killed runs: at least two of them stopped the patch half-way" 1 \
  "$((under_way >= 2))"

# Two runs at once: the first copies the many files six times over, the
# second starts once the first copies, says that the game folder is in use,
# waits, and both succeed.
big="$patches/many_six"
mkdir -p "$big"
ln -sfn "$many/files" "$big/files"
{
  crlf msg TORVANE2000.EXE
  for _ in 1 2 3 4 5 6; do tail -n +3 "$many/move.txt"; done
} >"$big/move.txt"
reset_many
start_many first auto,auto,auto,auto "$big"
first_pid=$many_pid first_driver=$driver_pid
for _ in $(seq 1500); do [ "$(copy_lines first)" -lt 1 ] || break; sleep 0.01; done
mkdir -p "$work/second.win"
(cd "$many" && exec timeout 120 wine64 "$exe" >"$work/second.win/out" \
  2>"$work/second.win/err") || echo $? >"$work/second.win/status"
many_pid=$first_pid driver_pid=$first_driver
wait_many first
check "two runs: both succeed" "0 0" \
  "$(cat "$work/first.win/status") $(cat "$work/second.win/status" 2>/dev/null || echo 0)"
check "two runs: four boxes, two of them Success" 2 \
  "$(grep -c '^Success|' "$work/first.win/boxes")"
check "two runs: the second waited for the first" 1 \
  "$(sed 's/\r$//' "$work/second.win/err" |
    grep -c "^patcher: another patch run is using .*Torvane 2000; waiting for it to end$")"
check "two runs: every file new, no temporary" "0 $many_count 0 0" "$(many_state)"
rm -rf "$ap_game/Many"

if [ -z "$native" ]; then
  echo "note: no native build given (${3:-}), so nothing was compared with Linux"
fi
echo "ran in $((SECONDS - started)) s"
summary
