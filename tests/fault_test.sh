#!/usr/bin/env bash
# Faults during a patch run, with real files: the disk fills up in the middle
# of a copy, a folder may not be written, a source goes away after the check,
# the destination is a directory, a symbolic link or read-only, and a long
# list with failures scattered through it. Each case checks the exit status,
# one Error box per failed copy, that the failed destinations are whole (old
# or new, never half-written) and that no temporary file is left behind.
# Usage: fault_test.sh path/to/patcher path/to/examples
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"

# expect_maps_failed NAME: maps.mix alone failed to copy and is whole, with
# one Error box; the other files were copied; no temporary is left.
expect_maps_failed() {
  check "$1: status" 1 "$status"
  check "$1: boxes" "Warning: Apply?
Error: Could not copy file: $dir\\Data\\maps.mix
Failed: Patch failed." "$(boxes)"
  check "$1: maps.mix whole" "old maps" "$(cat "$game/Data/maps.mix")"
  check "$1: others copied" "$(cat "$work/patch/game.dat" "$work/patch/sounds/sounds.mix")" \
    "$(cat "$game/game.dat" "$game/Data/sounds.mix")"
  check "$1: no temporaries" "" "$(temporaries)"
}

# The disk fills up while maps.mix is copied (a 1 MiB file-size limit and a
# 3 MiB source): with SIGXFSZ ignored the write fails and the run goes on.
big_patch() {
  fresh
  head -c 3145728 /dev/zero | tr '\0' 'b' >"$work/patch/big.mix"
  list 'game.dat,game.dat' 'big.mix,Data\maps.mix' 'sounds\sounds.mix,Data\sounds.mix'
  before=$(snapshot)
}
big_patch
run bash -c 'trap "" XFSZ; ulimit -f 1024; exec "$0"'
expect_maps_failed "disk full"
grep -q "^patcher: .*File too large" <<<"$err" || fail "disk full: no EFBIG detail: $err"

# Not ignored: the signal kills the program in the middle of the copy.
big_patch
run bash -c 'ulimit -c 0; ulimit -f 1024; exec "$0"' 2>/dev/null  # no job report
check "killed: status (SIGXFSZ)" $((128 + 25)) "$status"
check "killed: only the question" "Warning: Apply?" "$(boxes)"
# Copies are written ahead of their turn, so the kill may come before the
# first file is put in place: it is old or new, but whole.
case "$(cat "$game/game.dat")" in
  "$(cat "$work/patch/game.dat")" | "$(cat "$examples/prefix/drive_c/Games/Torvane 2000/game.dat")") passed=$((passed + 1)) ;;
  *) fail "killed: game.dat neither old nor new" ;;
esac
check "killed: maps.mix whole" "old maps" "$(cat "$game/Data/maps.mix")"
check "killed: sounds.mix not reached" "old sounds" "$(cat "$game/Data/sounds.mix")"
check "killed: no temporaries" "" "$(temporaries)"
check "killed: no progress past maps.mix" "" "$(grep 'sounds.mix$' <<<"$out")"

# A file written in place (it has a second name) when the disk is full:
# the copy fails before the old data is touched, and with SIGXFSZ not
# ignored the program is not killed in the middle of it either.
for sigxfsz in 'trap "" XFSZ;' ''; do
  big_patch
  ln "$game/Data/maps.mix" "$work/prefix/maps.bak"
  run bash -c "ulimit -c 0; $sigxfsz ulimit -f 1024; exec \"\$0\""
  expect_maps_failed "disk full, in place${sigxfsz:+, SIGXFSZ ignored}"
  check "disk full, in place: other name whole" "old maps" "$(cat "$work/prefix/maps.bak")"
done
# The same with the disk itself full: Data on a small file system of its
# own (a tmpfs in a mount namespace of the run's own, where root may make
# one). fallocate reserves the room before anything is written.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  big_patch
  mv "$game/Data" "$work/data"
  mkdir "$game/Data"
  # shellcheck disable=SC2016  # expanded by the inner shell
  run unshare -m bash -c 'mount -t tmpfs -o size=1m tmpfs "$1" && cp -a "$2"/. "$1" &&
    ln "$1/maps.mix" "$1/maps.bak" && "${@:4}"; status=$?
    cat "$1/maps.mix" >"$3/maps.after"; cat "$1/sounds.mix" >"$3/sounds.after"
    ls -A "$1" >"$3/names.after"; exit $status' \
    bash "$game/Data" "$work/data" "$work"
  check "full disk, in place: status" 1 "$status"
  check "full disk, in place: boxes" "Warning: Apply?
Error: Could not copy file: $dir\\Data\\maps.mix
Failed: Patch failed." "$(boxes)"
  grep -q "^patcher: fallocate(.*maps.mix): No space left on device" <<<"$err" ||
    fail "full disk, in place: no fallocate detail: $err"
  check "full disk, in place: maps.mix whole" "old maps" "$(cat "$work/maps.after")"
  check "full disk, in place: sounds.mix copied" "$(cat "$work/patch/sounds/sounds.mix")" \
    "$(cat "$work/sounds.after")"
  check "full disk, in place: names" "$(printf '%s\n' maps.bak maps.mix sounds.mix)" \
    "$(cat "$work/names.after")"
else
  echo "skipped: full disk case (needs root and mount namespaces)"
fi

# The drives players share with Windows, through their FUSE drivers with
# default options (every file root:root 0777 on ntfs-3g and exfat-fuse; no
# fchmod at all on fusefat), nearly full: Data is a 24 MiB image whose free
# space leaves room for one of three 3 MiB files. Each destination ends
# whole, old or new, with an Error box exactly for those left old; a new
# file is made; where a file has a second name it is written in place, and
# refused before its old data is touched.
drives_mounted=()
unmount_drives() {
  local d
  for d in "${drives_mounted[@]}"; do umount "${d%%|*}" 2>/dev/null; [ "${d#*|}" = - ] || losetup -d "${d#*|}"; done
}
at_exit unmount_drives
# mount_drive KIND IMAGE DIR: formats IMAGE as KIND and mounts it at DIR.
mount_drive() {
  local loop=-
  truncate -s 24M "$2"
  case $1 in
    ntfs) mkntfs -F -Q "$2" && ntfs-3g "$2" "$3" ;;
    exfat) loop=$(losetup -f --show "$2") && mkfs.exfat "$loop" && mount.exfat-fuse "$loop" "$3" ;;
    fat) mkfs.fat "$2" && fusefat -o rw+,allow_other "$2" "$3" ;;
  esac >/dev/null 2>&1 || return 1
  drives_mounted+=("$3|$loop")
}
declare -A drive_tools=([ntfs]="ntfs-3g mkntfs" [exfat]="mount.exfat-fuse mkfs.exfat losetup"
  [fat]="fusefat mkfs.fat")
# KIND USER SCENE: "full" (three renames, a new file) or "linked" (f1 has a
# second name: written in place).
drive_cases=("ntfs root full" "ntfs user full" "ntfs root linked" "exfat root full"
  "exfat user full" "fat root full")
for c in "${drive_cases[@]}"; do
  read -r kind who scene <<<"$c"
  at="$kind as $who, $scene"
  # shellcheck disable=SC2086  # a list of programs
  if [ "$(id -u)" != 0 ] || [ ! -e /dev/fuse ] || ! command -v ${drive_tools[$kind]} >/dev/null; then
    echo "skipped: $at (needs root, /dev/fuse and tools/install_deps.sh basics)"
    continue
  fi
  [ "$who" = root ] || can_switch_user || continue
  fresh
  rm -rf "$game/Data"
  mkdir "$game/Data"
  if ! mount_drive "$kind" "$work/$kind.img" "$game/Data"; then
    fail "$at: cannot mount"
    continue
  fi
  lines=('new.dat,Data\new.dat')
  for f in f1 f2 f3; do
    head -c 1048576 /dev/zero | tr '\0' o >"$game/Data/$f.dat"
    head -c 3145728 /dev/zero | tr '\0' n >"$work/patch/$f.dat"
    lines+=("$f.dat,Data\\$f.dat")
  done
  echo new >"$work/patch/new.dat"
  list "${lines[@]}"
  room=4718592  # 4.5 MiB: one 3 MiB file beside its old one, not two
  if [ "$scene" = linked ]; then
    ln "$game/Data/f1.dat" "$game/Data/f1.bak"
    room=1048576
  fi
  avail=$(df -B1 --output=avail "$game/Data" | tail -1)
  head -c $((avail - room)) /dev/zero >"$game/Data/filler" 2>/dev/null
  old_sum=$(head -c 1048576 /dev/zero | tr '\0' o | md5sum)
  new_sum=$(md5sum <"$work/patch/f1.dat")
  wrapper=()
  if [ "$who" = user ]; then
    chown -R 65534:65534 "$work/prefix" "$work/patch" 2>/dev/null  # not the mount's
    wrapper=(as_user)
  fi
  run "${wrapper[@]}"
  check "$at: status" 1 "$status"
  expected="Warning: Apply?"
  for f in f1 f2 f3; do
    case "$(md5sum <"$game/Data/$f.dat")" in
      "$new_sum") passed=$((passed + 1)) ;;
      "$old_sum") passed=$((passed + 1))
        expected+=$'\n'"Error: Could not copy file: $dir\\Data\\$f.dat" ;;
      *) fail "$at: $f.dat neither old nor new ($(stat -c %s "$game/Data/$f.dat") bytes)" ;;
    esac
  done
  check "$at: one box per file left old" "$expected"$'\nFailed: Patch failed.' "$(boxes)"
  check "$at: new file made" new "$(cat "$game/Data/new.dat" 2>&1)"
  check "$at: no temporaries" "" "$(find "$game/Data" -name '.*')"
  if [ "$scene" = linked ]; then
    check "$at: f1 refused before a byte" "$old_sum $old_sum" \
      "$(md5sum <"$game/Data/f1.dat") $(md5sum <"$game/Data/f1.bak")"
    grep -q "^patcher: write(.*f1.dat): No space left on device" <<<"$err" ||
      fail "$at: no ENOSPC detail: $err"
  else
    check "$at: f1 renamed into place" "$new_sum" "$(md5sum <"$game/Data/f1.dat")"
  fi
  umount "$game/Data"
done

# A destination that is a directory fails, however it is written.
fresh
list 'game.dat,Data' "maps.mix,Data\\" 'sounds\sounds.mix,Data\sounds.mix'
before=$(snapshot)
run
check "directory: status" 1 "$status"
check "directory: boxes" "Warning: Apply?
Error: Could not copy file: $dir\\Data
Error: Could not copy file: $dir\\Data\\
Failed: Patch failed." "$(boxes)"
check "directory: only sounds.mix changed" \
  "$(sed '/sounds.mix/d' <<<"$before")" "$(snapshot | sed '/sounds.mix/d')"
check "directory: no temporaries" "" "$(temporaries)"

# A symbolic link is replaced by the new file; its target stays as it was.
fresh
echo "not the game's" >"$work/outside"
ln -sf "$work/outside" "$game/Data/maps.mix"
ln -sf "$work/nowhere" "$game/Data/sounds.mix"
list 'maps.mix,Data\maps.mix' 'sounds\sounds.mix,Data\sounds.mix'
run
check "symlink: status" 0 "$status"
check "symlink: boxes" "Warning: Apply?
Success: Patch successful" "$(boxes)"
check "symlink: target untouched" "not the game's" "$(cat "$work/outside")"
check "symlink: replaced by a file" "regular file:new maps" \
  "$(stat -c %F "$game/Data/maps.mix"):$(cat "$game/Data/maps.mix")"
check "symlink: dangling one replaced" "regular file" "$(stat -c %F "$game/Data/sounds.mix")"
check "symlink: nothing made outside" "" "$(ls "$work/nowhere" 2>/dev/null)"

# A read-only destination is made writable and replaced (as root here).
fresh
chmod 0444 "$game/Data/maps.mix" "$game/game.dat"
list 'maps.mix,Data\maps.mix' 'game.dat,game.dat'
run
check "read-only: status" 0 "$status"
check "read-only: replaced, writable" "644 new maps" \
  "$(stat -c %a "$game/Data/maps.mix") $(cat "$game/Data/maps.mix")"

# run_removing FILE: runs the program and removes FILE (in the patch folder)
# while the question holds the run between the check and the copy pass.
run_removing() {
  mkfifo "$work/answer"
  (cd "$work/patch" && WINEPREFIX="$work/prefix" "$patcher" <"$work/answer" \
    >"$work/out" 2>"$work/err") &
  local pid=$!
  exec 3>"$work/answer"
  for _ in $(seq 200); do grep -q '^\[y/N\]' "$work/err" && break; sleep 0.05; done
  rm "$work/patch/$1"
  echo y >&3
  exec 3>&-
  status=0
  wait "$pid" || status=$?
  keep_output
  rm "$work/answer"
}

# A source that goes away between the check and the copy fails to copy.
fresh
list 'game.dat,game.dat' 'maps.mix,Data\maps.mix' 'sounds\sounds.mix,Data\sounds.mix'
run_removing maps.mix
expect_maps_failed "source gone"
grep -q "^patcher: open(.*maps.mix): No such file" <<<"$err" || fail "source gone: detail: $err"

# The list itself goes away: nothing is copied, and that is a failure.
fresh
list 'game.dat,game.dat'
before=$(snapshot)
run_removing move.txt
check "list gone: status" 1 "$status"
check "list gone: boxes" "Warning: Apply?
Failed: Patch failed." "$(boxes)"
check "list gone: detail" "patcher: cannot open move.txt again" "$(grep '^patcher: ' <<<"$err")"
check "list gone: game untouched" "$before" "$(snapshot)"

# 10,000 entries, one in 97 into a folder the game does not have and one in
# 89 onto a directory: every failure gets its box, in list order, and every
# other file lands.
fresh
mkdir "$work/patch/bulk" "$game/Bulk"
printf 'Apply?\n\n' >"$work/patch/move.txt"
expected_boxes="Warning: Apply?"
failed=0
for ((i = 1; i <= 10000; i++)); do
  printf '%d\n' "$i" >"$work/patch/bulk/f$i"
  if ((i % 97 == 0)); then
    dest="NoDir\\f$i"
  elif ((i % 89 == 0)); then
    dest="Bulk\\f$i"
    mkdir "$game/Bulk/f$i"
  else
    dest="Bulk\\f$i"
  fi
  printf 'bulk\\f%d,%s\n' "$i" "$dest"
  if ((i % 97 == 0 || i % 89 == 0)); then
    expected_boxes+=$'\n'"Error: Could not copy file: $dir\\$dest"
    failed=$((failed + 1))
  fi
done >>"$work/patch/move.txt"
expected_boxes+=$'\nFailed: Patch failed.'
run
check "10000: status" 1 "$status"
check "10000: one box per failure, in order" "$expected_boxes" "$(boxes)"
check "10000: progress lines" 10000 "$(grep -c ' -> ' <<<"$out")"
check "10000: files copied" $((10000 - failed)) "$(find "$game/Bulk" -type f | wc -l)"
bad=0
for ((i = 1; i <= 10000; i++)); do
  ((i % 97 == 0 || i % 89 == 0)) && continue
  [ "$(<"$game/Bulk/f$i")" == "$i" ] || bad=$((bad + 1))
done
check "10000: contents" 0 "$bad"
check "10000: directories kept" $((10000 / 89 - 1)) "$(find "$game/Bulk" -mindepth 1 -type d -empty | wc -l)"
check "10000: nothing made" "Bulk Data game.dat" "$(cd "$game" && echo *)"
check "10000: no temporaries" "" "$(temporaries)"

# Two runs on one game folder at once: the second waits for the first, said
# on standard error, rather than take the first's temporary in flight for a
# leftover (the first one's rename held back by strace). Both succeed.
if command -v strace >/dev/null && strace -f -qq -o /dev/null true 2>/dev/null; then
  fresh
  list 'game.dat,game.dat' 'maps.mix,Data\maps.mix' 'sounds\sounds.mix,Data\sounds.mix'
  # (LeakSanitizer cannot work in a traced process.)
  (cd "$work/patch" && echo y | WINEPREFIX="$work/prefix" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -f -qq -o /dev/null \
    -e trace=renameat,renameat2 -e inject=renameat,renameat2:delay_enter=1500000:when=1 \
    "$patcher" >/dev/null 2>"$work/first.err") &
  first=$!
  for _ in $(seq 100); do [ -n "$(temporaries)" ] && break; sleep 0.05; done
  check "two runs: the first's temporary in flight" 1 "$(temporaries | wc -l)"
  run
  first_status=0
  wait "$first" || first_status=$?
  check "two runs: first status" 0 "$first_status"
  check "two runs: second status" 0 "$status"
  check "two runs: the second waited" \
    "patcher: another patch run is using $work/prefix/dosdevices/c:/Games/Torvane 2000; waiting for it to end" \
    "$(grep '^patcher: ' <<<"$err")"
  check "two runs: nothing removed" "" "$(grep '^patcher: ' "$work/first.err")"
  check "two runs: files" "$(cat "$work/patch/game.dat" "$work/patch/maps.mix" "$work/patch/sounds/sounds.mix")" \
    "$(cat "$game/game.dat" "$game/Data/maps.mix" "$game/Data/sounds.mix")"
  check "two runs: no temporaries" "" "$(temporaries)"
else
  echo "skipped: two runs at once (needs strace)"
fi

# A reader of the progress lines that goes away (| head -5) changes nothing
# of the patch: every file is copied, the status is the patch's, and one line
# on standard error says the lines stopped.
fresh
mkdir "$work/patch/many" "$game/Many"
printf 'Apply?\n\n' >"$work/patch/move.txt"
for ((i = 1; i <= 400; i++)); do
  echo "$i" >"$work/patch/many/f$i"
  printf 'many\\f%d,Many\\f%d\n' "$i" "$i"
done >>"$work/patch/move.txt"
(cd "$work/patch" && echo y | WINEPREFIX="$work/prefix" "$patcher" 2>"$work/err" |
  head -5 >"$work/out"; echo "${PIPESTATUS[1]}" >"$work/status")
keep_output
check "closed pipe: status" 0 "$(cat "$work/status")"
check "closed pipe: lines up to the reader's end" 5 "$(wc -l <"$work/out")"
check "closed pipe: said once" "patcher: standard output is closed; the patch goes on without its progress lines" \
  "$(grep '^patcher: ' <<<"$err")"
check "closed pipe: every file copied" 400 "$(cat "$game/Many"/f* | wc -l)"
check "closed pipe: outcome" "Success" "$(grep -x Success <<<"$err")"

if can_switch_user; then
  # Root patching a player's game: the files it makes are the player's, in
  # the folder's group, so that the game, run as the player, may replace
  # them; a replaced file keeps its owner; standard error says so once.
  fresh
  chown -R 65534:65534 "$work/prefix"
  list 'maps.mix,Data\new.mix' 'game.dat,new.dat' 'maps.mix,Data\maps.mix'
  run
  check "root, player's folder: status" 0 "$status"
  check "root, player's folder: owners" "65534:65534 65534:65534 65534:65534" \
    "$(stat -c %u:%g "$game/Data/new.mix" "$game/new.dat" "$game/Data/maps.mix" | xargs)"
  check "root, player's folder: said once" 1 "$(grep -c '^patcher: run as root: new files' <<<"$err")"

  # The destination's folder may not be written: maps.mix (read-only, the
  # user's own) is made writable and written in place; a new file cannot
  # be made there.
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$game/Data"
  chmod 0444 "$game/Data/maps.mix"
  list 'game.dat,game.dat' 'maps.mix,Data\maps.mix' 'sounds\sounds.mix,Data\new.mix'
  inode=$(stat -c %i "$game/Data/maps.mix")
  run as_user
  check "unwritable folder: status" 1 "$status"
  check "unwritable folder: boxes" "Warning: Apply?
Error: Could not copy file: $dir\\Data\\new.mix
Failed: Patch failed." "$(boxes)"
  check "unwritable folder: Data's names" "maps.mix sounds.mix" "$(cd "$game/Data" && echo *)"
  check "unwritable folder: maps.mix written in place, no longer read-only" "644 $inode new maps" \
    "$(stat -c '%a %i' "$game/Data/maps.mix") $(cat "$game/Data/maps.mix")"
  check "unwritable folder: game.dat copied" "$(cat "$work/patch/game.dat")" "$(cat "$game/game.dat")"
  check "unwritable folder: no temporaries" "" "$(temporaries)"

  # Read-only files of another owner cannot be made writable: refused, as
  # Windows refuses them, though the folder may be written. The user's own
  # read-only file is made writable and replaced.
  fresh
  chown -R 65534:65534 "$work/prefix" "$work/patch"
  chown 0:0 "$game/Data/maps.mix"
  chmod 0444 "$game/Data/maps.mix" "$game/Data/sounds.mix"
  list 'maps.mix,Data\maps.mix' 'sounds\sounds.mix,Data\sounds.mix'
  run as_user
  check "read-only of another: status" 1 "$status"
  check "read-only of another: boxes" "Warning: Apply?
Error: Could not copy file: $dir\\Data\\maps.mix
Failed: Patch failed." "$(boxes)"
  check "read-only of another: untouched" "444 old maps" \
    "$(stat -c %a "$game/Data/maps.mix") $(cat "$game/Data/maps.mix")"
  check "read-only, own: replaced" "644 $(cat "$work/patch/sounds/sounds.mix")" \
    "$(stat -c %a "$game/Data/sounds.mix") $(cat "$game/Data/sounds.mix")"
  check "read-only: no temporaries" "" "$(temporaries)"
else
  echo "skipped: permission cases (need root to switch users)"
fi

summary
