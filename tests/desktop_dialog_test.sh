#!/usr/bin/env bash
# Runs the built program the way a file manager starts it on a Linux desktop:
# no terminal, standard input closed or /dev/null, a display, zenity
# installed. Answers its dialogs through xdotool on an Xvfb screen and checks
# files, console lines and exit statuses, and the progress window shown while
# files are copied. Leaves pictures of the question dialog and the progress
# window as question_dialog.png and progress_window.png in OUT_DIR.
# Usage: desktop_dialog_test.sh path/to/patcher path/to/examples OUT_DIR
# Exits 77 (skipped) when Xvfb, zenity, xdotool or strace is missing.
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"
out_dir=$(readlink -f "$3")
need desktop Xvfb zenity xdotool strace

start_xvfb

patcher_pid=""
stop_program() {
  [ -z "$patcher_pid" ] || { kill "$patcher_pid" 2>/dev/null; wait "$patcher_pid"; }
}
at_exit stop_program

# Variables, and a command to run the program with, that start puts before
# the program: env's arguments.
start_with=()
start() {  # start closed|null: the program in the background, no terminal
  # timeout ends a run whose dialog was never answered (status 124).
  local run=(timeout 30 env WINEPREFIX="$work/prefix" "${start_with[@]}"
    "$patcher")
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

# --- The progress window. A zenity of our own comes first on PATH: it runs
# the real one and logs which kind of dialog each run is to $work/started;
# for the progress window it also writes the program's process id to
# $work/program and copies what the window is fed to $work/fed (tee, which
# ends as zenity ends, as a closed window does; lines sent to a window as it
# is closed may be missing from the copy).
#
# The program never waits for its window, so strace stops it after the
# link that puts a chosen copy in place (the copies named in `stop_after`,
# counted from 1; every destination here is a new file, which a copy links
# into place rather than renames); the window can then be looked at while the program stands
# still, and `resume` continues it.
if ! strace -o /dev/null true 2>/dev/null; then
  echo "progress window: skipped: strace may not trace here"
  summary
  exit
fi
real_zenity=$(command -v zenity)
mkdir "$work/bin"
cat >"$work/bin/zenity" <<'EOF'
#!/usr/bin/env bash
for arg; do
  case $arg in --question | --info | --error | --progress | --file-selection)
    echo "$arg" >>"$TEST_DIR/started" ;;
  esac
done
# The folder chooser answers with the first line of $TEST_DIR/choices
# (CANCEL: Cancel) and records its arguments.
if [[ " $* " == *" --file-selection "* ]]; then
  printf '%s\n' "$@" >>"$TEST_DIR/chooser"
  choice=$(head -n 1 "$TEST_DIR/choices") && sed -i 1d "$TEST_DIR/choices"
  [ "$choice" != CANCEL ] || exit 1
  printf '%s\n' "$choice"
  exit 0
fi
[[ " $* " == *" --progress "* ]] || exec "$REAL_ZENITY" "$@"
echo "$PPID" >"$TEST_DIR/program"
exec "$REAL_ZENITY" "$@" < <(tee -a "$TEST_DIR/fed")
EOF
chmod +x "$work/bin/zenity"
progress_env=(PATH="$work/bin:$PATH" TEST_DIR="$work" REAL_ZENITY="$real_zenity")

stop_after() {  # stop_after WHEN: strace's when= (3+5: the 3rd, 8th...)
  rm -f "$work/strace.log"
  stops=0
  # LeakSanitizer cannot work under ptrace: it would fail the sanitizer
  # build's runs at their exit.
  stopper=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    strace -o "$work/strace.log" -e trace=linkat
    -e "inject=linkat:signal=SIGSTOP:when=$1")
}
# stopped SOURCE: waits until the program stands still after its next stop,
# with the window fed the line that names SOURCE.
stopped() {
  stops=$((stops + 1))
  local line
  line=$(fed_line "$1")
  for _ in $(seq 200); do
    if [ "$(grep -c -x -e '--- stopped by SIGSTOP ---' "$work/strace.log" 2>/dev/null)" -ge "$stops" ] &&
      grep -q -x -F -e "$line" "$work/fed" 2>/dev/null; then
      return 0
    fi
    sleep 0.05
  done
  return 1
}
resume() { kill -CONT "$(cat "$work/program")"; }
# A program left stopped would outlive the suite.
resume_left() { [ ! -e "$work/program" ] || kill -CONT "$(cat "$work/program")" 2>/dev/null; }
at_exit resume_left

# fed_line NAME [FOLDER]: the window's text for NAME, as zenity is fed it.
fed_line() {
  local dest="$dir\\${2:+$2\\}$1"
  echo "# $1 -> ${dest//\\/\\\\}"
}

# progress_patch [x]: a fresh patch of a1 (1,000,000 bytes) and a2 to a5,
# with x a file whose folder does not exist, then b1 to b5 (100,000 bytes
# each): a share by bytes differs from one by entries.
progress_patch() {
  fresh
  rm -f "$work/started" "$work/fed" "$work/program"
  local lines=() name size
  for name in a1 a2 a3 a4 a5 "$@" b1 b2 b3 b4 b5; do
    size=100000
    [ "$name" = a1 ] && size=1000000
    yes "$name" | head -c "$size" >"$work/patch/$name"
    lines+=("$name,$name")
  done
  [ $# -eq 0 ] || lines[5]='x,Missing\x'
  list "${lines[@]}"
}

visible() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
gone() {  # gone TITLE: waits until no window so titled is visible
  for _ in $(seq 100); do [ -z "$(visible "$1")" ] && return 0; sleep 0.05; done
  return 1
}
differs() {  # differs WINDOW PICTURE OTHER: PICTURE taken until it differs
  for _ in $(seq 30); do
    picture "$1" "$2" >/dev/null
    cmp -s "$2" "$3" || return 0
    sleep 0.1
  done
  return 1
}

# Yes to a patch with a failing copy in its middle: the window appears with
# the copy's line and a share by bytes, closes for the Error box, opens again
# after it, moves on, and is gone before the outcome.
progress_patch x
stop_after 3+5  # a3, then b3
start_with=("${progress_env[@]}" "${stopper[@]}")
SECONDS=0
start closed
question=$(window Warning)
[ -n "$question" ] && click_button "$question" Yes
if ! stopped a3; then
  fail "progress: no stop at a3"
else
  progress=$(window Patching)
  [ -n "$progress" ] || fail "progress: no window titled Patching"
  check "progress: fed up to a3" "$(fed_line a1)
0
50
$(fed_line a2)
55
$(fed_line a3)" "$(cat "$work/fed")"
  xdotool mousemove 0 0  # the pointer out of the pictures
  sleep 0.5               # let it draw the last line
  [ -z "$progress" ] || picture "$progress" "$work/first.png" >/dev/null
  resume
fi
error=$(window Error)
[ -n "$error" ] || fail "progress: no error box"
check "progress: closed for the error box" "" "$(visible Patching)"
[ -z "$error" ] || key "$error" Return
if ! stopped b3; then
  fail "progress: no stop at b3"
else
  progress=$(window Patching)
  [ -n "$progress" ] || fail "progress: not open again after the error box"
  # The share goes on from where it was: x failed, and counts as done.
  check "progress: fed again from b1" "$(fed_line b1)
75
80
$(fed_line b2)
85
$(fed_line b3)" "$(tail -n 6 "$work/fed")"
  if [ -n "$progress" ] && [ -e "$work/first.png" ]; then
    differs "$progress" "$out_dir/progress_window.png" "$work/first.png" ||
      fail "progress: the window did not change"
    echo "picture: $out_dir/progress_window.png"
  fi
  resume
fi
failed=$(window Failed)
[ -n "$failed" ] || fail "progress: no outcome box"
check "progress: closed before the outcome" "" "$(visible Patching)"
[ -z "$failed" ] || key "$failed" Return
wait_program
echo "progress run: ${SECONDS}s"
check "progress: status" 1 "$status"
check "progress: dialogs" "--question
--progress
--error
--progress
--error" "$(cat "$work/started")"
copied_lines=$(for name in a1 a2 a3 a4 a5 x b1 b2 b3 b4 b5; do
  if [ $name = x ]; then echo "x -> $dir\\Missing\\x"; else
    echo "$name -> $dir\\$name"; fi
done)
check "progress: console" "$banner
Game Installed in: '$dir'

$copied_lines" "$out"
check "progress: no console boxes" "" "$(grep -v '^patcher: ' <<<"$err")"
check "progress: copied" "$(cat "$work/patch"/[ab]?)" "$(cat "$game"/[ab]?)"

# Closing the window does not stop the run, and no window comes back.
progress_patch
stop_after 3
start_with=("${progress_env[@]}" "${stopper[@]}")
start closed
question=$(window Warning)
[ -n "$question" ] && click_button "$question" Yes
if stopped a3; then
  progress=$(window Patching)
  [ -z "$progress" ] || key "$progress" Escape
  gone Patching || fail "close: the window stayed"
  resume
else
  fail "close: no stop at a3"
fi
success=$(window Success)
[ -n "$success" ] || fail "close: no outcome box"
[ -z "$success" ] || key "$success" Return
wait_program
check "close: status" 0 "$status"
check "close: dialogs" "--question
--progress
--info" "$(cat "$work/started")"
check "close: copied" "$(cat "$work/patch"/[ab]?)" "$(cat "$game"/[ab]?)"

# Standard output that goes away in the middle does not stop the patch, even
# where SIGPIPE was left to end programs: the lines stop, one line on
# standard error says so, the copies go on and the outcome is the patch's.
progress_patch
rm -f "$work/reader_gone"
stop_after 1
( (cd "$work/patch" && exec timeout 30 env --default-signal=PIPE \
  WINEPREFIX="$work/prefix" "${progress_env[@]}" "${stopper[@]}" "$patcher" \
  <&- 2>"$work/err") | { head -n 5 >"$work/out"; : >"$work/reader_gone"; }
  echo "${PIPESTATUS[0]}" >"$work/status") &
patcher_pid=$!
question=$(window Warning)
[ -n "$question" ] && click_button "$question" Yes
if stopped a1; then
  for _ in $(seq 100); do [ -e "$work/reader_gone" ] && break; sleep 0.05; done
  resume
else
  fail "stdout: no stop at a1"
fi
success=$(window Success)
[ -n "$success" ] || fail "stdout: no outcome box"
[ -z "$success" ] || key "$success" Return
wait "$patcher_pid"
patcher_pid=""
check "stdout: status" 0 "$(cat "$work/status")"
gone Patching || fail "stdout: the window outlived the program"
check "stdout: said once" "patcher: standard output is closed; the patch goes on without its progress lines" \
  "$(grep '^patcher: ' "$work/err")"
check "stdout: every file copied" "$(cat "$work/patch"/[ab]?)" "$(cat "$game"/[ab]?)"

# Answers through a pipe keep the console, and show no window either.
progress_patch
run env "${progress_env[@]}"
check "pipe: no progress window" "" "$(cat "$work/started" 2>/dev/null)"
check "pipe: status" 0 "$status"

# --- No prefix named, and the game in none of those searched: a folder
# chooser, opening in the home folder, asks for the prefix. A folder that is
# no prefix, or whose registry lacks the game, brings an Error box and the
# chooser again; a folder that holds the game is patched.
home=$work/home
rm -rf "$home" "$work/empty" "$work/other"
mkdir -p "$home/.PlayOnLinux/wineprefix/Other/drive_c" \
  "$home/.PlayOnLinux/wineprefix/Other/dosdevices" "$work/empty"
: >"$home/.PlayOnLinux/wineprefix/Other/system.reg"
: >"$home/.PlayOnLinux/wineprefix/Other/user.reg"
cp -a "$home/.PlayOnLinux/wineprefix/Other" "$work/other"
choose_env=("${progress_env[@]}" WINEPREFIX= STEAM_COMPAT_DATA_PATH=
  HOME="$home" XDG_DATA_HOME= XDG_CONFIG_HOME=)
dismiss() {  # dismiss TITLE: Return in the next window so titled
  local id
  id=$(window "$1")
  [ -n "$id" ] || { fail "$2: no $1 box"; return; }
  key "$id" Return
}
fresh
: >"$work/prefix/user.reg"
rm -f "$work/started" "$work/chooser"
printf '%s\n' "$work/empty" "$work/other" "$work/prefix" >"$work/choices"
start_with=("${choose_env[@]}")
start closed
dismiss Error "chooser"
dismiss Error "chooser"
question=$(window Warning)
[ -n "$question" ] && click_button "$question" Yes
dismiss Success "chooser"
wait_program
check "chooser: status" 0 "$status"
check "chooser: dialogs" "--file-selection
--error
--file-selection
--error
--file-selection
--question
--info" "$(cat "$work/started")"
check "chooser: opens in home, says how many were searched" "--file-selection
--directory
--title=The game was not found in the 1 Wine prefix searched: choose the Wine prefix it is installed in
--filename=$home/" "$(head -4 "$work/chooser")"
check "chooser: stderr" "patcher: the game was not found in the 1 Wine prefix searched
patcher: name the prefix it is installed in: WINEPREFIX=... patcher
patcher: found the game in the chosen Wine prefix $work/prefix" "$err"
check "chooser: patched" "new maps" "$(cat "$game/Data/maps.mix")"

# Cancel: the run goes on as it did without a chooser, with ~/.wine.
fresh
: >"$work/prefix/user.reg"
rm -f "$work/started" "$work/chooser"
echo CANCEL >"$work/choices"
start closed
dismiss Error "cancel"
wait_program
check "cancel: status" 255 "$status"
check "cancel: dialogs" "--file-selection
--error" "$(cat "$work/started")"
check "cancel: stderr" "patcher: the game was not found in the 1 Wine prefix searched
patcher: name the prefix it is installed in: WINEPREFIX=... patcher" "$err"
check "cancel: untouched" "old maps" "$(cat "$game/Data/maps.mix")"
start_with=()

summary
