// Where Linux players keep Wine prefixes: plain Wine's ~/.wine, Steam's
// Proton prefixes in every Steam library, and the prefixes of Lutris,
// Heroic, Bottles and PlayOnLinux, their Flatpak and Snap variants included.

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
/// this order: ~/.wine; Steam's compatdata/*/pfx in the libraries of each
/// Steam root (libraryfolders.vdf, the root included); the prefixes of
/// Lutris' game configurations; Heroic's winePrefix values (each with and
/// without /pfx, Proton's layout) and its Prefixes folder; Bottles' bottles,
/// placeholders followed; PlayOnLinux's prefixes. `xdg_data_home` is
/// $XDG_DATA_HOME; null, empty or relative means ~/.local/share. Folders
/// that are not prefixes are left out, and so are files and folders that
/// cannot be read or make no sense. Never writes anything.
std::vector<PrefixCandidate> FindPrefixCandidates(const std::string& home,
                                                  const char* xdg_data_home);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_PREFIX_SEARCH_H_
