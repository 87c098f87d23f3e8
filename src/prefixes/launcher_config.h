// What the game launchers' own files say about their Wine prefixes: Steam's
// library lists and game manifests, Lutris' game configurations (YAML),
// Heroic's game settings (JSON), Bottles' placeholders and settings (YAML),
// Faugus Launcher's game list (JSON) and PortProton's folder. Each
// reader takes the file's text and returns what it could read: a damaged or
// hostile file gives less, or nothing, and never an error.

#ifndef PATCHER_PREFIXES_LAUNCHER_CONFIG_H_
#define PATCHER_PREFIXES_LAUNCHER_CONFIG_H_

#include <string>
#include <string_view>
#include <vector>

namespace patcher {

/// Returns the library folders that Steam's libraryfolders.vdf names, in
/// file order: in its top-level "libraryfolders" section (any case), the
/// "path" of each section (the current form), or the value of each key that
/// is a number (the older form). Empty values are left out.
std::vector<std::string> SteamLibraryFolders(std::string_view vdf);

/// Returns the library folders that Steam's config/config.vdf names: the
/// value of each key `BaseInstallFolder_<number>` (any case) at any depth,
/// in file order. Empty values are left out.
std::vector<std::string> SteamConfigLibraryFolders(std::string_view vdf);

/// Returns the "name" in the "AppState" section of a Steam app manifest
/// (appmanifest_<appid>.acf), or the empty text.
std::string SteamAppName(std::string_view acf);

/// Returns the value of `key` in the YAML mapping `section` at the top level
/// of `yaml` (in the top-level mapping itself when `section` is empty), or
/// the empty text when it is not there, not a text, or cannot be read. Reads
/// the block style that launchers write: keys indented under their section,
/// values plain, in single or in double quotes (with escapes), possibly
/// continued on more indented lines; `#` comments.
std::string YamlValue(std::string_view yaml, std::string_view section,
                      std::string_view key);

/// Returns the prefix of a Lutris game configuration: `prefix` in its
/// `game` section, or the empty text.
std::string LutrisPrefix(std::string_view yaml);

/// Returns the executable of a Lutris game configuration: `exe` in its
/// `game` section, or the empty text.
std::string LutrisExe(std::string_view yaml);

/// Returns the folder that Bottles' data.yml keeps bottles in instead of its
/// own: its `custom_bottles_path`, or the empty text.
std::string BottlesCustomPath(std::string_view yaml);

/// Returns the folder that a Bottles placeholder.yml sends to: its `Path`,
/// or the empty text.
std::string BottlesPlaceholderPath(std::string_view yaml);

/// Returns every text value of a member named "winePrefix", at any depth of
/// Heroic's JSON (a game's settings, or the defaults in config.json), in file
/// order.
std::vector<std::string> HeroicWinePrefixes(std::string_view json);

/// Returns every text value of a member named "prefix", at any depth of
/// Faugus Launcher's games.json, in file order.
std::vector<std::string> FaugusPrefixes(std::string_view json);

/// Returns the folder that ~/.config/PortProton.conf records PortProton in:
/// its first line that is not blank, without surrounding blanks or quotes,
/// or the empty text.
std::string PortProtonFolder(std::string_view conf);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_LAUNCHER_CONFIG_H_
