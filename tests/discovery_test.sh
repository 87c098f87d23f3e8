#!/usr/bin/env bash
# Runs the built program with no prefix named, in a fake home folder laid out
# as each launcher lays it out, and checks that it finds the game in the
# right prefix, patches it there, asks when the game is in several, says
# how to name a prefix when it is in none, reads no registry without a
# list, and is not thrown by hostile launcher files.
# Usage: discovery_test.sh path/to/patcher path/to/examples
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"

home=$work/home mnt=$work/mnt
new_home() { rm -rf "$home" "$mnt"; mkdir -p "$home" "$mnt"; }

# game_prefix DIR: a prefix that holds the game (a copy of the example's);
# other_prefix DIR: a prefix without it.
game_prefix() {
  mkdir -p "$(dirname "$1")"
  cp -a "$examples/prefix" "$1"
  : >"$1/user.reg"
}
other_prefix() {
  mkdir -p "$1/drive_c" "$1/dosdevices"
  printf 'WINE REGISTRY Version 2\n\n#arch=win64\n' >"$1/system.reg"
  : >"$1/user.reg"
}
game_files() { cat "$1/drive_c/Games/Torvane 2000/game.dat"; }
old_game=$(cat "$examples/prefix/drive_c/Games/Torvane 2000/game.dat")
new_game=$(cat "$examples/patch/game.dat")

# discover INPUT [VAR=VALUE...]: runs the program in the patch folder with
# HOME the fake home and no prefix named.
discover() {
  local input=$1
  shift
  run_answering "$input" env -u WINEPREFIX -u STEAM_COMPAT_DATA_PATH \
    -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" "$@"
}
found() { echo "patcher: found the game in the Wine prefix $1"; }

# --- Each launcher's layout, the game in one prefix, others beside it.
steam() {  # a second library on another path holds the game's prefix
  local root=$home/.local/share/Steam
  mkdir -p "$root/steamapps" "$mnt/lib2/steamapps"
  cat >"$root/steamapps/libraryfolders.vdf" <<EOF
"libraryfolders"
{
	"0"
	{
		"path"		"$root"
		"label"		""
	}
	"1"
	{
		"path"		"$mnt/lib2"
		"label"		""
		"apps"
		{
			"4242"		"12345"
		}
	}
}
EOF
  other_prefix "$root/steamapps/compatdata/10/pfx"
  other_prefix "$mnt/lib2/steamapps/compatdata/20/pfx"
  game_prefix "$mnt/lib2/steamapps/compatdata/4242/pfx"
  mkdir -p "$home/.steam"
  ln -s "$root" "$home/.steam/steam"
  ln -s steam "$home/.steam/root"
  target=$mnt/lib2/steamapps/compatdata/4242/pfx
}
steam_flatpak() {
  local root=$home/.var/app/com.valvesoftware.Steam/.local/share/Steam
  other_prefix "$root/steamapps/compatdata/10/pfx"
  game_prefix "$root/steamapps/compatdata/77/pfx"
  mkdir -p "$home/.var/app/com.valvesoftware.Steam/data"
  ln -s ../.local/share/Steam "$home/.var/app/com.valvesoftware.Steam/data/Steam"
  target=$root/steamapps/compatdata/77/pfx
}
lutris() {
  mkdir -p "$home/.config/lutris/games"
  printf 'game:\n  exe: /x/torvane.exe\n  prefix: ~/Games/torvane\nsystem: {}\n' \
    >"$home/.config/lutris/games/torvane-1700000000.yml"
  printf 'game:\n  prefix: %s\n' "$home/Games/other" \
    >"$home/.config/lutris/games/other-1.yml"
  other_prefix "$home/Games/other"
  game_prefix "$home/Games/torvane"
  target=$home/Games/torvane
}
heroic() {  # a Proton game: the Wine prefix is winePrefix/pfx
  mkdir -p "$home/.config/heroic/GamesConfig"
  printf '{\n  "Torvane": {\n    "winePrefix": "%s",\n    "wineVersion": {"type": "proton"}\n  }\n}\n' \
    "$mnt/heroic/Torvane" >"$home/.config/heroic/GamesConfig/Torvane.json"
  game_prefix "$mnt/heroic/Torvane/pfx"
  other_prefix "$home/Games/Heroic/Prefixes/default"
  target=$mnt/heroic/Torvane/pfx
}
bottles() {  # a bottle kept elsewhere, through its placeholder
  local bottles=$home/.local/share/bottles/bottles
  mkdir -p "$bottles/Torvane"
  printf 'Path: %s\n' "$mnt/bottle" >"$bottles/Torvane/placeholder.yml"
  game_prefix "$mnt/bottle"
  other_prefix "$bottles/Other"
  target=$mnt/bottle
}
playonlinux() {
  other_prefix "$home/.PlayOnLinux/wineprefix/Other"
  game_prefix "$home/.PlayOnLinux/wineprefix/Torvane"
  target=$home/.PlayOnLinux/wineprefix/Torvane
}
plain_wine() {
  rm -rf "$home/.wine"
  game_prefix "$home/.wine"
  target=$home/.wine
}

# The places found later: launcher files as each launcher writes them.
# layout_env: variables a layout sets for the run.
steam_snap_config() {  # the Snap's hidden folder; a library in config/ only
  local root=$home/.snap/data/steam/common/.local/share/Steam
  mkdir -p "$root/config"
  cat >"$root/config/libraryfolders.vdf" <<EOF
"libraryfolders"
{
	"0"
	{
		"path"		"$mnt/snaplib"
		"label"		""
	}
}
EOF
  other_prefix "$root/steamapps/compatdata/10/pfx"
  game_prefix "$mnt/snaplib/steamapps/compatdata/4242/pfx"
  target=$mnt/snaplib/steamapps/compatdata/4242/pfx
}
steam_config_vdf() {  # an older Steam: BaseInstallFolder_1 in config.vdf
  local root=$home/.steam/debian-installation
  mkdir -p "$root/config"
  cat >"$root/config/config.vdf" <<EOF
"InstallConfigStore"
{
	"Software"
	{
		"Valve"
		{
			"Steam"
			{
				"BaseInstallFolder_1"		"$mnt/oldlib"
				"AutoUpdateWindowEnabled"		"0"
			}
		}
	}
}
EOF
  game_prefix "$mnt/oldlib/SteamApps/compatdata/4242/pfx"
  target=$mnt/oldlib/SteamApps/compatdata/4242/pfx
}
# As yaml.safe_dump wrote it for Lutris: the prefix's path beyond ASCII, in
# \u escapes over three lines.
lutris_unicode() {
  mkdir -p "$home/.config/lutris/games"
  cat >"$home/.config/lutris/games/torvane-1700000001.yml" <<'EOF'
game:
  arch: win64
  exe: drive_c/Games/Torvane 2000/torvane.exe
  prefix: "~/Games/\u0412\u0435\u0434\u044C\u043C\u0430\u043A 3 \u0414\u0438\u043A\
    \u0430\u044F \u041E\u0445\u043E\u0442\u0430 \u2014 \u0418\u0437\u0434\u0430\u043D\
    \u0438\u0435 \xAB\u0418\u0433\u0440\u0430 \u0433\u043E\u0434\u0430\xBB/prefix"
name: "\u0412\u0435\u0434\u044C\u043C\u0430\u043A 3"
runner: wine
slug: torvane
system: {}
wine:
  version: lutris-GE-Proton8-26-x86_64
EOF
  target="$home/Games/Ведьмак 3 Дикая Охота — Издание «Игра года»/prefix"
  game_prefix "$target"
}
lutris_exe() {  # under $XDG_CONFIG_HOME, no prefix: found above the exe
  mkdir -p "$home/xdg-config/lutris/games"
  printf 'game:\n  exe: %s/Games/Torvane/drive_c/Games/Torvane 2000/torvane.exe\nsystem: {}\n' \
    "$home" >"$home/xdg-config/lutris/games/torvane-1700000002.yml"
  game_prefix "$home/Games/Torvane"
  target=$home/Games/Torvane
  layout_env=(XDG_CONFIG_HOME="$home/xdg-config")
}
heroic_xdg() {
  mkdir -p "$home/xdg-config/heroic/GamesConfig"
  printf '{\n  "Torvane": {\n    "winePrefix": "%s",\n    "wineVersion": {"type": "wine"}\n  }\n}\n' \
    "$mnt/heroic/Torvane" >"$home/xdg-config/heroic/GamesConfig/Torvane.json"
  game_prefix "$mnt/heroic/Torvane"
  target=$mnt/heroic/Torvane
  layout_env=(XDG_CONFIG_HOME="$home/xdg-config")
}
# Bottles' bottles in a folder of the player's choosing (data.yml), its path
# beyond ASCII as PyYAML's SafeDumper writes it.
bottles_custom() {
  mkdir -p "$home/.local/share/bottles"
  printf 'custom_bottles_path: "%s/\\u30DC\\u30C8\\u30EB"\nwindow_width: 1024\n' \
    "$mnt" >"$home/.local/share/bottles/data.yml"
  other_prefix "$mnt/ボトル/Other"
  game_prefix "$mnt/ボトル/Torvane"
  target=$mnt/ボトル/Torvane
}
umu() {  # umu-launcher's default prefix, with its pfx link to itself
  game_prefix "$home/Games/umu/umu-default"
  ln -s . "$home/Games/umu/umu-default/pfx"
  target=$home/Games/umu/umu-default
}
faugus() {
  mkdir -p "$home/.local/share/faugus-launcher"
  cat >"$home/.local/share/faugus-launcher/games.json" <<EOF
[
    {
        "gameid": "torvane-2000",
        "title": "Torvane 2000",
        "path": "$mnt/faugus/Torvane/drive_c/Games/Torvane 2000/torvane.exe",
        "prefix": "$mnt/faugus/Torvane",
        "launch_arguments": "",
        "runner": "GE-Proton"
    }
]
EOF
  other_prefix "$home/Faugus/other"
  game_prefix "$mnt/faugus/Torvane"
  target=$mnt/faugus/Torvane
}
portproton() {  # PortProton moved elsewhere, as its .conf records
  mkdir -p "$home/.config"
  printf '%s/PortProton\n' "$mnt" >"$home/.config/PortProton.conf"
  other_prefix "$mnt/PortProton/data/prefixes/DEFAULT"
  game_prefix "$mnt/PortProton/data/prefixes/TORVANE"
  target=$mnt/PortProton/data/prefixes/TORVANE
}
crossover() {
  game_prefix "$home/.cxoffice/Torvane"
  printf '[Bottle]\n"Template" = "win10_64"\n' >"$home/.cxoffice/Torvane/cxbottle.conf"
  target=$home/.cxoffice/Torvane
}

for layout in steam steam_flatpak lutris heroic bottles playonlinux plain_wine \
  steam_snap_config steam_config_vdf lutris_unicode lutris_exe heroic_xdg \
  bottles_custom umu faugus portproton crossover; do
  fresh
  new_home
  other_prefix "$home/.wine"
  layout_env=()
  $layout
  discover $'y\n' "${layout_env[@]}"
  check "$layout: status" 0 "$status"
  check "$layout: found" "$(found "$target")" "$(head -1 <<<"$err")"
  check "$layout: boxes" "Warning: This patch brings Torvane 2000 to version 1.1.
Success: Patch successful" "$(boxes)"
  check "$layout: patched there" "$new_game" "$(game_files "$target")"
done

# --- A wineserver started by a Flatpak launcher: its lock is in the app's
# /tmp under $XDG_RUNTIME_DIR, and held (perl takes it as wineserver does,
# with fcntl) it brings the warning; No leaves the game as it was.
fresh
new_home
lutris
server=$(printf 'server-%x-%x' "$(stat -L -c %d "$target")" "$(stat -L -c %i "$target")")
lock_dir=$work/rt/.flatpak/net.lutris.Lutris/tmp/.wine-$(id -u)/$server
mkdir -p "$lock_dir" && : >"$lock_dir/lock"
rm -f "$work/held" "$work/release"
perl -MFcntl -e 'open(my $f, "+<", $ARGV[0]) or die "open: $!";
  fcntl($f, F_SETLK, pack("s s x4 q q i x4", F_WRLCK, SEEK_SET, 0, 1, 0))
    or die "lock: $!";
  open(my $h, ">", $ARGV[1]); close $h;
  select(undef, undef, undef, 0.05) until -e $ARGV[2];' \
  "$lock_dir/lock" "$work/held" "$work/release" &
holder=$!
for _ in $(seq 100); do [ -e "$work/held" ] && break; sleep 0.05; done
discover $'n\n' XDG_RUNTIME_DIR="$work/rt"
: >"$work/release"
wait "$holder"
check "flatpak wineserver: status" 0 "$status"
check "flatpak wineserver: warned" \
  "Warning: Programs are running in the Wine prefix $target (the game may be open). Files that they hold open may be replaced under them, and recent registry changes may not be saved yet." \
  "$(boxes | head -1)"
check "flatpak wineserver: untouched" "$old_game" "$(game_files "$target")"
discover $'y\n' XDG_RUNTIME_DIR="$work/rt"
check "flatpak wineserver gone: no warning" \
  "Warning: This patch brings Torvane 2000 to version 1.1." "$(boxes | head -1)"

# --- The game in no prefix: the run goes on with ~/.wine and fails as it
# did, having said how many prefixes it searched and how to name one.
fresh
new_home
other_prefix "$home/.wine"
other_prefix "$home/.PlayOnLinux/wineprefix/A"
mkdir -p "$home/.local/share/Steam/steamapps/compatdata/1"
discover $'y\n'
check "none: status" 255 "$status"
check "none: stderr" "patcher: the game was not found in the 2 Wine prefixes searched
patcher: name the prefix it is installed in: WINEPREFIX=... patcher
Error
Cannot determine installation directory" "$err"

# A prefix named wins: nothing is looked for.
fresh
new_home
playonlinux
discover $'y\n' WINEPREFIX="$home/.wine"
check "named: status" 255 "$status"
check "named: nothing looked for" "Error: Cannot determine installation directory" "$(boxes)"
check "named: no search said" "" "$(grep '^patcher: ' <<<"$err")"

# --- The game in two prefixes: one box each, the newer system.reg first.
question() {  # question DIR PREFIX: the box for one copy
  printf 'Warning\nThe game is installed in more than one Wine prefix.\n\n'
  printf 'Patch the copy in %s\nin the prefix %s?\n[y/N] \n' "$1" "$2"
}
two() {
  new_home
  steam
  steam_target=$target
  printf '"AppState"\n{\n\t"appid"\t\t"4242"\n\t"name"\t\t"Torvane 2000"\n}\n' \
    >"$mnt/lib2/steamapps/appmanifest_4242.acf"
  lutris
  touch -d '2024-01-01 00:00:00' "$steam_target/system.reg"
  touch -d '2024-06-01 00:00:00' "$target/system.reg"
  lutris_target=$target
}
ask_lutris=$(question 'C:\Games\Torvane 2000' "$home/Games/torvane")
ask_steam=$(question 'C:\Games\Torvane 2000' \
  "$mnt/lib2/steamapps/compatdata/4242/pfx (Torvane 2000)")

fresh
two
discover $'y\ny\n'
check "two, first: status" 0 "$status"
check "two, first: asked" "$ask_lutris" "$(head -6 <<<"$err")"
check "two, first: patched the newer" "$new_game" "$(game_files "$lutris_target")"
check "two, first: other untouched" "$old_game" "$(game_files "$steam_target")"

fresh
two
discover $'n\ny\ny\n'
check "two, second: status" 0 "$status"
check "two, second: asked" "$ask_lutris
$ask_steam" "$(head -12 <<<"$err")"
check "two, second: patched" "$new_game" "$(game_files "$steam_target")"
check "two, second: other untouched" "$old_game" "$(game_files "$lutris_target")"
check "two, second: then the question" \
  "Warning: This patch brings Torvane 2000 to version 1.1." "$(boxes | sed -n 3p)"

fresh
two
discover $'n\nn\n'
check "two, neither: status" 0 "$status"
check "two, neither: only the two boxes" "$ask_lutris
$ask_steam" "$err"
check "two, neither: no console" "" "$out"
check "two, neither: untouched" "$old_game
$old_game" "$(game_files "$lutris_target"; game_files "$steam_target")"

# --- No list, or a corrupt one: no search, and no registry read at all.
if command -v strace >/dev/null; then
  for list in missing:254 empty:253; do
    name=${list%:*}
    fresh
    new_home
    steam
    rm "$work/patch/move.txt"
    [ "$name" = missing ] || : >"$work/patch/move.txt"
    # (LeakSanitizer, in the sanitizer build, cannot run under ptrace.)
    discover "" ASAN_OPTIONS=detect_leaks=0 \
      strace -f -qq -e trace=open,openat -o "$work/trace"
    check "$name list: status" "${list#*:}" "$status"
    check "$name list: no search said" "" "$(grep '^patcher: ' <<<"$err")"
    grep -q 'move.txt' "$work/trace" || fail "$name list: strace saw no open"
    check "$name list: no registry read" "" "$(grep -E '\.reg"' "$work/trace")"
  done
else
  echo "skipped: registry reads without a list (no strace)"
fi
fresh
new_home
steam
rm "$work/patch/move.txt"
discover $'y\n'
check "missing list: status" 254 "$status"
check "missing list: box" "Error: Verification failed.  Missing required patching files." "$(boxes)"

# --- Hostile launcher files: skipped, the game still found, and soon.
fresh
new_home
playonlinux
root=$home/.local/share/Steam
mkdir -p "$root/steamapps" "$home/.config/lutris/games" \
  "$home/.config/heroic/GamesConfig" "$home/.local/share/bottles/bottles/B"
head -c 200000 /dev/urandom >"$root/steamapps/libraryfolders.vdf"
mkfifo "$root/steamapps/appmanifest_1.acf"
other_prefix "$root/steamapps/compatdata/1/pfx"
printf '"libraryfolders" {' >"$home/snap.vdf"
head -c 1000000 /dev/zero | tr '\0' '{' >>"$home/snap.vdf"
mkdir -p "$home/snap/steam/common/.local/share/Steam/steamapps"
mv "$home/snap.vdf" "$home/snap/steam/common/.local/share/Steam/steamapps/libraryfolders.vdf"
mkdir -p "$home/.steam"
ln -s loop "$home/.steam/loop" && ln -s loop "$home/.steam/steam"
mkfifo "$home/.config/lutris/games/fifo.yml"
head -c 100000 /dev/urandom >"$home/.config/lutris/games/junk.yml"
printf 'game:\n  prefix: "unterminated\n' >"$home/.config/lutris/games/cut.yml"
head -c 20000000 /dev/zero | tr '\0' '[' >"$home/.config/heroic/GamesConfig/big.json"
printf '{"winePrefix": "relative/path", "winePrefix": "/nowhere"}' \
  >"$home/.config/heroic/GamesConfig/odd.json"
mkfifo "$home/.local/share/bottles/bottles/B/placeholder.yml"
started=$SECONDS
discover $'y\n' timeout 60
check "hostile: status" 0 "$status"
check "hostile: found" "$(found "$target")" "$(head -1 <<<"$err")"
check "hostile: patched" "$new_game" "$(game_files "$target")"
[ $((SECONDS - started)) -lt 10 ] || fail "hostile: took $((SECONDS - started)) s"

summary
