// Where Linux players keep Wine prefixes: plain Wine's ~/.wine, Steam's
// Proton prefixes in every Steam library, and the prefixes of Lutris,
// Heroic, Bottles, PlayOnLinux, umu-launcher, Faugus Launcher, PortProton
// and CrossOver, their Flatpak and Snap variants included.

#ifndef PATCHER_PREFIXES_PREFIX_SEARCH_H_
#define PATCHER_PREFIXES_PREFIX_SEARCH_H_

#include <string>
#include <vector>

namespace patcher {

/// A Wine prefix found on the disk.
struct PrefixCandidate {
  std::string path;  // the real folder, symbolic links resolved
  /// For a Steam prefix, the game's name from its app manifest in any of
  /// the libraries; otherwise, or when there is none, empty.
  std::string steam_name;
};

/// Tells whether `dir` is a Wine prefix: it holds the files system.reg and
/// user.reg and the folders drive_c and dosdevices.
bool IsWinePrefix(const std::string& dir);

/// Returns every Wine prefix that the usual places under the home folder
/// `home` hold or the launchers' files there name, each real folder once, in
/// this order:
/// - ~/.wine;
/// - Steam's compatdata/*/pfx in the libraries of each Steam root (those
///   that steamapps/libraryfolders.vdf, config/libraryfolders.vdf and
///   config/config.vdf list, the root included);
/// - the prefixes of Lutris' game configurations, or for a game without
///   one the prefix found above its executable, as Lutris finds it;
/// - Heroic's winePrefix values (each with and without /pfx, Proton's
///   layout) and its Prefixes folder;
/// - Bottles' bottles, in its folder and in the one its data.yml names,
///   placeholders followed;
/// - PlayOnLinux's prefixes; umu-launcher's ~/Games/umu/*;
/// - Faugus Launcher's prefixes in its games.json and in ~/Faugus;
/// - PortProton's data/prefixes/* (DEFAULT first) in the folder that
///   ~/.config/PortProton.conf records, then in ~/PortProton;
/// - CrossOver's bottles in ~/.cxoffice.
/// `xdg_data_home` is $XDG_DATA_HOME and `xdg_config_home` $XDG_CONFIG_HOME;
/// null, empty or relative means ~/.local/share and ~/.config. Folders that
/// are not prefixes are left out, and so are files and folders that cannot
/// be read or make no sense. Never writes anything.
std::vector<PrefixCandidate> FindPrefixCandidates(
    const std::string& home, const char* xdg_data_home,
    const char* xdg_config_home = nullptr);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_PREFIX_SEARCH_H_
