#!/usr/bin/env bash
# Runs the built program the way a file manager starts it on a Linux desktop:
# no terminal, standard input closed or /dev/null, a display, zenity
# installed. Answers its dialogs through xdotool on an Xvfb screen and checks
# files, console lines and exit statuses. Leaves a picture of the question
# dialog as question_dialog.png in OUT_DIR.
# Usage: desktop_dialog_test.sh path/to/patcher path/to/examples OUT_DIR
# Exits 77 (skipped) when Xvfb, zenity or xdotool is missing.
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"
out_dir=$(readlink -f "$3")
need desktop Xvfb zenity xdotool

start_xvfb

patcher_pid=""
stop_program() {
  [ -z "$patcher_pid" ] || { kill "$patcher_pid" 2>/dev/null; wait "$patcher_pid"; }
}
at_exit stop_program

start() {  # start closed|null: the program in the background, no terminal
  # timeout ends a run whose dialog was never answered (status 124).
  local run=(timeout 30 env WINEPREFIX="$work/prefix" "$patcher")
  (cd "$work/patch" && case $1 in
    closed) exec "${run[@]}" <&- ;;
    null) exec "${run[@]}" </dev/null ;;
  esac) >"$work/out" 2>"$work/err" &
  patcher_pid=$!
}

wait_program() {  # waits for the program; sets status, out, err
  status=0
  wait "$patcher_pid" || status=$?
  patcher_pid=""
  keep_output
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

geometry() {  # geometry WINDOW: sets X, Y, WIDTH and HEIGHT to the window's
  local name value
  while IFS='=' read -r name value; do
    case $name in X | Y | WIDTH | HEIGHT) printf -v "$name" '%s' "$value" ;; esac
  done < <(xdotool getwindowgeometry --shell "$1")
}

picture() {  # picture WINDOW FILE: the window's pixels as a PNG
  if ! command -v xwdtopnm >/dev/null; then
    echo "no picture: netpbm is not installed (tools/install_deps.sh desktop)"
    return
  fi
  geometry "$1"
  xwdtopnm "$work/Xvfb_screen0" 2>/dev/null |
    pamcut -left "$X" -top "$Y" -width "$WIDTH" -height "$HEIGHT" |
    pnmtopng >"$2" 2>/dev/null && echo "picture: $2"
}

click_button() {  # click_button WINDOW No|Yes: a click on that button
  # The buttons sit at the bottom right, No left of Yes, each 84 pixels wide
  # with 5 between (zenity 3.44, default theme): aim at their middles.
  geometry "$1"
  local x=$((X + WIDTH - 50))
  [ "$2" = No ] && x=$((x - 89))
  xdotool mousemove "$x" $((Y + HEIGHT - 25)) click 1
}

key() {  # key WINDOW KEY: a real key press into the window
  xdotool windowfocus --sync "$1" && xdotool key "$2"
}

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
wait_program
echo "yes run: ${SECONDS}s"
check "yes: status" 0 "$status"
check_applied yes
check "yes: no console boxes" "" "$err"

# No, with standard input from /dev/null: the No button declines, nothing
# changes, no outcome dialog follows.
fresh
SECONDS=0
start null
question=$(window Warning)
[ -n "$question" ] || fail "no: no question dialog"
[ -z "$question" ] || click_button "$question" No
wait_program
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
wait_program
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
wait_program
check "error: status" 254 "$status"
check "error: no console boxes" "" "$err"

# On the same desktop, input through a pipe keeps the console boxes.
fresh
run timeout 20
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

summary
