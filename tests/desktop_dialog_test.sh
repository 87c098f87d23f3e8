#!/usr/bin/env bash
# Runs the built program the way a file manager starts it on a Linux desktop:
# no terminal, standard input closed or /dev/null, a display, zenity
# installed. Answers its dialogs through xdotool on an Xvfb screen and checks
# files, console lines and exit statuses. Leaves a picture of the question
# dialog as question_dialog.png in OUT_DIR.
# Usage: desktop_dialog_test.sh path/to/patcher path/to/examples OUT_DIR
# Exits 77 (skipped) when Xvfb, zenity or xdotool is missing.
set -uo pipefail
patcher=$(readlink -f "$1")
examples=$(readlink -f "$2")
out_dir=$(readlink -f "$3")
for tool in Xvfb zenity xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done

work=$(mktemp -d)
chmod 0755 "$work"
xvfb_pid="" patcher_pid=""
cleanup() {
  [ -z "$patcher_pid" ] || kill "$patcher_pid" 2>/dev/null
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0 passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then passed=$((passed + 1)); else
    fail "$1"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | head -20
  fi
}

# A screen of our own; -displayfd picks a free display number, -fbdir keeps
# the screen's pixels in a file for the picture.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -fbdir "$work" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY

fresh() {
  rm -rf "$work/prefix" "$work/patch"
  cp -a "$examples/prefix" "$work/prefix"
  cp -a "$examples/patch" "$work/patch"
  game="$work/prefix/drive_c/Games/Torvane 2000"
}

start() {  # start closed|null: the program in the background, no terminal
  # timeout ends a run whose dialog was never answered (status 124).
  local run=(timeout 30 env WINEPREFIX="$work/prefix" "$patcher")
  (cd "$work/patch" && case $1 in
    closed) exec "${run[@]}" <&- ;;
    null) exec "${run[@]}" </dev/null ;;
  esac) >"$work/out" 2>"$work/err" &
  patcher_pid=$!
}

finish() {  # waits for the program; sets status, out, err
  status=0
  wait "$patcher_pid" || status=$?
  patcher_pid=""
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

window() {  # window TITLE: prints the id of the visible window so titled
  local id=""
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && break
    kill -0 "$patcher_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "$id"
}

picture() {  # picture WINDOW FILE: the window's pixels as a PNG
  if ! command -v xwdtopnm >/dev/null; then
    echo "no picture: netpbm is not installed"
    return
  fi
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xwdtopnm "$work/Xvfb_screen0" 2>/dev/null |
    pamcut -left "$X" -top "$Y" -width "$WIDTH" -height "$HEIGHT" |
    pnmtopng >"$2" 2>/dev/null && echo "picture: $2"
}

click_button() {  # click_button WINDOW No|Yes: a click on that button
  # The buttons sit at the bottom right, No left of Yes, each 84 pixels wide
  # with 5 between (zenity 3.44, default theme): aim at their middles.
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  local x=$((X + WIDTH - 50))
  [ "$2" = No ] && x=$((x - 89))
  xdotool mousemove "$x" $((Y + HEIGHT - 25)) click 1
}

key() {  # key WINDOW KEY: a real key press into the window
  xdotool windowfocus --sync "$1" && xdotool key "$2"
}

banner=$'Patcher 1.0\t\tNot made or supported by Quelvar\n   Written by the patcher team'
dir='C:\Games\Torvane 2000'

# Yes, from a launcher that closed standard input: the question is a dialog
# titled "Warning"; its Yes button patches; the outcome is a "Success" dialog.
fresh
SECONDS=0
start closed
question=$(window Warning)
if [ -z "$question" ]; then
  fail "yes: no question dialog"
else
  check "yes: dialog program" zenity "$(xdotool getwindowpid "$question" | xargs -I{} cat /proc/{}/comm)"
  xdotool mousemove 0 0
  sleep 0.3  # let it draw before the picture
  picture "$question" "$out_dir/question_dialog.png"
  click_button "$question" Yes
  success=$(window Success)
  [ -n "$success" ] || fail "yes: no outcome dialog"
  [ -z "$success" ] || key "$success" Return
fi
finish
echo "yes run: ${SECONDS}s"
check "yes: status" 0 "$status"
check "yes: console" "$banner
Game Installed in: '$dir'

game.dat -> $dir\\game.dat
maps.mix -> $dir\\DATA\\maps.mix
sounds\\sounds.mix -> $dir\\Data\\Sounds.mix" "$out"
check "yes: no console boxes" "" "$err"
check "yes: files" "$(cat "$work/patch/game.dat" "$work/patch/maps.mix" "$work/patch/sounds/sounds.mix")" \
  "$(cat "$game/game.dat" "$game/Data/maps.mix" "$game/Data/sounds.mix")"

# No, with standard input from /dev/null: the No button declines, nothing
# changes, no outcome dialog follows.
fresh
SECONDS=0
start null
question=$(window Warning)
[ -n "$question" ] || fail "no: no question dialog"
[ -z "$question" ] || click_button "$question" No
finish
echo "no run: ${SECONDS}s"
check "no: status" 0 "$status"
check "no: console" "$banner" "$out"
check "no: no console boxes" "" "$err"
check "no: untouched" "old maps" "$(cat "$game/Data/maps.mix")"

# Closing the question (Escape, as the window's close button does) is No.
# Its text has markup characters and a Windows-1252 byte, which zenity
# refuses unless the text is made UTF-8 and marked as not markup: a refused
# text would fall back to the console box.
fresh
{
  printf 'Caf\xe9 <b>bold</b> & \\n\n'
  tail -n +2 "$examples/patch/move.txt"
} >"$work/patch/move.txt"
start null
question=$(window Warning)
[ -n "$question" ] || fail "close: no question dialog"
[ -z "$question" ] || key "$question" Escape
finish
check "close: status" 0 "$status"
check "close: no console boxes" "" "$err"
check "close: untouched" "old maps" "$(cat "$game/Data/maps.mix")"

# A failed check shows its error in a dialog titled "Error".
fresh
rm "$work/patch/move.txt"
start closed
error=$(window Error)
[ -n "$error" ] || fail "error: no error dialog"
[ -z "$error" ] || key "$error" Return
finish
check "error: status" 254 "$status"
check "error: no console boxes" "" "$err"

# On the same desktop, input through a pipe keeps the console boxes.
fresh
status=0
(cd "$work/patch" && echo y | WINEPREFIX="$work/prefix" timeout 20 "$patcher" \
  >"$work/out" 2>"$work/err") || status=$?
check "pipe: status" 0 "$status"
check "pipe: console boxes" "Success" "$(tail -2 "$work/err" | head -1)"
check "pipe: files" "new maps" "$(cat "$game/Data/maps.mix")"

# Without zenity on PATH the console box declines, as before.
fresh
status=0
(cd "$work/patch" && timeout 20 env PATH=/nowhere WINEPREFIX="$work/prefix" \
  "$patcher" </dev/null >"$work/out" 2>"$work/err") || status=$?
check "no zenity: status" 0 "$status"
check "no zenity: console question" "Warning" "$(head -1 "$work/err")"
check "no zenity: untouched" "old maps" "$(cat "$game/Data/maps.mix")"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
