#!/usr/bin/env bash
# Applies the example patch to a scratch copy of the example prefix,
# answering Yes, and shows what changed in the game's folder.
# Usage: tools/run_example.sh [path/to/patcher]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
patcher=${1:-$root/build/patcher}
if [ ! -x "$patcher" ]; then
  echo "run_example: no program at $patcher; build it with" >&2
  echo "  tools/install_deps.sh && cmake --preset default && cmake --build --preset default" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cp -a "$root/examples/prefix" "$scratch/prefix"
game="$scratch/prefix/drive_c/Games/Torvane 2000"
chmod 0444 "$game/Data/maps.mix"  # a read-only file the patch replaces
cp -a "$game" "$scratch/before"

echo "The example patch (examples/patch/move.txt) replaces three files of the"
echo "game in a copy of the example prefix; Yes is answered. Data/maps.mix is made"
echo "read-only first, as a disc install has it."
echo
echo "\$ cd examples/patch && echo y | WINEPREFIX=<scratch prefix> patcher"
status=0
(cd "$root/examples/patch" && echo y | WINEPREFIX="$scratch/prefix" "$patcher") || status=$?
echo "exit status: $status"
echo
echo "What changed in C:\\Games\\Torvane 2000:"
(cd "$scratch/before" && find . -type f | sort) | while read -r f; do
  old="$scratch/before/$f" new="$game/$f"
  if ! cmp -s "$old" "$new"; then
    printf '  %s: "%s" -> "%s" (mode %s -> %s)\n' "${f#./}" \
      "$(tr -d '\r\n' <"$old")" "$(tr -d '\r\n' <"$new")" \
      "$(stat -c %a "$old")" "$(stat -c %a "$new")"
  fi
done
if [ "$status" = 0 ]; then
  echo
  echo "The list names DATA\\maps.mix and Data\\Sounds.mix: both went into the game's"
  echo "one folder Data, to its files maps.mix and sounds.mix, as names are matched"
  echo "ignoring case (as Windows does). The read-only maps.mix was made writable"
  echo "and replaced."
fi
exit "$status"
