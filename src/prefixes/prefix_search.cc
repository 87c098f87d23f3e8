// The list of candidate prefixes, found from a home folder in the places each
// launcher keeps them.

#include "prefixes/prefix_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "posix/files.h"
#include "prefixes/launcher_config.h"

namespace patcher {

namespace {

/// Launchers' files are small; a larger one is read only this far.
constexpr size_t kConfigLimit = 16 << 20;
/// Names read from one folder, and Steam libraries taken, at the most.
constexpr size_t kMaxNames = 10000;
/// Folders looked at as prefixes at the most, so that launcher files that
/// name a million folders cost a moment, not minutes.
constexpr size_t kMaxTries = 100000;

/// The places of each launcher, relative to the home folder.
const char kSteamFlatpak[] = ".var/app/com.valvesoftware.Steam";
const char kLutrisFlatpak[] = ".var/app/net.lutris.Lutris";
const char kHeroicFlatpak[] = ".var/app/com.heroicgameslauncher.hgl";
const char kBottlesFlatpak[] = ".var/app/com.usebottles.bottles";
const char kFaugusFlatpak[] = ".var/app/io.github.Faugus.faugus-launcher";
/// Folders climbed from a Lutris game's executable at the most.
constexpr int kMaxClimb = 64;

bool IsKind(const std::string& path, mode_t kind) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

/// Returns `path` with symbolic links resolved, or the empty text when it
/// does not exist or cannot be resolved.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr),
                                              &free);
  return real ? std::string(real.get()) : std::string();
}

/// Returns the names in the folder `dir` (not . and ..), sorted; none when
/// it cannot be read.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
    if (names.size() == kMaxNames) break;
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWith(const std::string& text, const char* end) {
  std::string tail = end;
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

/// Collects candidates, each real folder once.
class Search {
 public:
  Search(std::string home, const char* xdg_data_home,
         const char* xdg_config_home)
      : home_(std::move(home)) {
    data_home_ = xdg_data_home && xdg_data_home[0] == '/'
                     ? xdg_data_home
                     : Home(".local/share");
    config_home_ = xdg_config_home && xdg_config_home[0] == '/'
                       ? xdg_config_home
                       : Home(".config");
  }

  std::string Home(const std::string& rel) const {
    return JoinPath(home_, rel);
  }
  const std::string& data_home() const { return data_home_; }
  const std::string& config_home() const { return config_home_; }

  /// Returns a launcher's path with a leading ~ made the home folder, or
  /// the empty text for a relative path.
  std::string Expand(const std::string& path) const {
    if (path == "~") return home_;
    if (path.compare(0, 2, "~/") == 0) return JoinPath(home_, path.substr(2));
    return path.empty() || path[0] != '/' ? std::string() : path;
  }

  /// Adds `dir` when it is a prefix not found before.
  void Add(const std::string& dir, const std::string& steam_name = "") {
    if (dir.empty() || ++tries_ > kMaxTries) return;
    std::string real = RealPath(dir);
    if (real.empty() || seen_.count(real) || !IsWinePrefix(real)) return;
    seen_.insert(real);
    found_.push_back(PrefixCandidate{real, steam_name});
  }

  std::vector<PrefixCandidate> Take() { return std::move(found_); }

 private:
  std::string home_;
  std::string data_home_;
  std::string config_home_;
  std::set<std::string> seen_;
  std::vector<PrefixCandidate> found_;
  size_t tries_ = 0;
};

/// Old Steam installs spell the folder SteamApps.
const char* const kSteamApps[] = {"steamapps", "SteamApps"};

void AddSteam(Search* search) {
  const std::string roots[] = {
      JoinPath(search->data_home(), "Steam"),
      search->Home(".steam/steam"),
      search->Home(".steam/root"),
      search->Home(".steam/debian-installation"),
      search->Home(std::string(kSteamFlatpak) + "/.local/share/Steam"),
      search->Home(std::string(kSteamFlatpak) + "/data/Steam"),
      search->Home("snap/steam/common/.local/share/Steam"),
      search->Home(".snap/data/steam/common/.local/share/Steam"),
  };
  // Every library of every root, each real folder once, the roots first.
  std::vector<std::string> libraries;
  std::set<std::string> seen;
  auto add_library = [&](const std::string& path) {
    if (libraries.size() == kMaxNames) return;
    std::string real = RealPath(path);
    if (!real.empty() && IsKind(real, S_IFDIR) && seen.insert(real).second)
      libraries.push_back(real);
  };
  for (const std::string& root : roots) add_library(root);
  auto add_libraries = [&](const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
      if (!folder.empty() && folder[0] == '/') add_library(folder);
    }
  };
  for (size_t i = 0, roots_found = libraries.size(); i < roots_found; ++i) {
    std::string text;
    for (const char* list :
         {"steamapps/libraryfolders.vdf", "SteamApps/libraryfolders.vdf",
          "config/libraryfolders.vdf"}) {
      if (ReadSmallHostFile(JoinPath(libraries[i], list), kConfigLimit, &text))
        add_libraries(SteamLibraryFolders(text));
    }
    if (ReadSmallHostFile(JoinPath(libraries[i], "config/config.vdf"),
                          kConfigLimit, &text))
      add_libraries(SteamConfigLibraryFolders(text));
  }
  // The game's name, for telling prefixes apart: its manifest may sit in
  // another library than its prefix.
  auto name_of = [&](const std::string& appid) {
    for (const std::string& library : libraries) {
      for (const char* apps : kSteamApps) {
        std::string text;
        if (ReadSmallHostFile(
                JoinPath(library,
                         std::string(apps) + "/appmanifest_" + appid + ".acf"),
                kConfigLimit, &text))
          return SteamAppName(text);
      }
    }
    return std::string();
  };
  for (const std::string& library : libraries) {
    for (const char* apps : kSteamApps) {
      std::string compat = JoinPath(library, std::string(apps) + "/compatdata");
      for (const std::string& appid : Names(compat)) {
        std::string prefix = JoinPath(compat, appid + "/pfx");
        if (IsWinePrefix(prefix)) search->Add(prefix, name_of(appid));
      }
    }
  }
}

/// Returns the prefix Lutris finds for a game configured without one: the
/// first folder above its executable `exe` that is a prefix or holds one
/// named `prefix` or `pfx`; the empty text when there is none.
std::string PrefixAboveExe(const std::string& exe) {
  std::string dir = exe;
  for (int i = 0; i < kMaxClimb; ++i) {
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0) break;
    dir.resize(slash);
    if (IsWinePrefix(dir)) return dir;
    for (const char* child : {"prefix", "pfx"}) {
      std::string inside = JoinPath(dir, child);
      if (IsWinePrefix(inside)) return inside;
    }
  }
  return std::string();
}

void AddLutris(Search* search) {
  const std::string folders[] = {
      JoinPath(search->config_home(), "lutris/games"),
      search->Home(".config/lutris/games"),
      JoinPath(search->data_home(), "lutris/games"),
      search->Home(std::string(kLutrisFlatpak) + "/config/lutris/games"),
      search->Home(std::string(kLutrisFlatpak) + "/data/lutris/games"),
  };
  std::set<std::string> seen;  // $XDG_CONFIG_HOME may be ~/.config
  for (const std::string& folder : folders) {
    if (!seen.insert(folder).second) continue;
    for (const std::string& name : Names(folder)) {
      std::string text;
      if (!EndsWith(name, ".yml") ||
          !ReadSmallHostFile(JoinPath(folder, name), kConfigLimit, &text))
        continue;
      std::string prefix = LutrisPrefix(text);
      if (prefix.empty())
        prefix = PrefixAboveExe(search->Expand(LutrisExe(text)));
      search->Add(search->Expand(prefix));
    }
  }
}

void AddHeroic(Search* search) {
  const std::string folders[] = {
      JoinPath(search->config_home(), "heroic"),
      search->Home(".config/heroic"),
      search->Home(std::string(kHeroicFlatpak) + "/config/heroic"),
  };
  // A prefix with a Proton wine version is <winePrefix>/pfx; trying both
  // needs no reading of the version, and only prefixes count.
  auto add = [&](const std::string& path) {
    if (path.empty()) return;
    search->Add(path);
    search->Add(JoinPath(path, "pfx"));
  };
  std::set<std::string> seen;  // $XDG_CONFIG_HOME may be ~/.config
  for (const std::string& folder : folders) {
    if (!seen.insert(folder).second) continue;
    std::vector<std::string> files = {JoinPath(folder, "config.json")};
    std::string games = JoinPath(folder, "GamesConfig");
    for (const std::string& name : Names(games)) {
      if (EndsWith(name, ".json")) files.push_back(JoinPath(games, name));
    }
    for (const std::string& file : files) {
      std::string text;
      if (!ReadSmallHostFile(file, kConfigLimit, &text)) continue;
      for (const std::string& prefix : HeroicWinePrefixes(text))
        add(search->Expand(prefix));
    }
  }
  std::string prefixes = search->Home("Games/Heroic/Prefixes");
  for (const std::string& name : Names(prefixes)) add(JoinPath(prefixes, name));
}

/// Adds each folder in `dir` (sorted; `first`, when there, before them).
void AddEach(Search* search, const std::string& dir,
             const std::string& first = "") {
  if (!first.empty()) search->Add(JoinPath(dir, first));
  for (const std::string& name : Names(dir)) {
    if (name != first) search->Add(JoinPath(dir, name));
  }
}

void AddBottles(Search* search) {
  // Bottles keeps its bottles in its data folder, or in the folder its
  // data.yml names.
  const std::string data[] = {
      JoinPath(search->data_home(), "bottles"),
      search->Home(std::string(kBottlesFlatpak) + "/data/bottles"),
  };
  std::vector<std::string> folders;
  for (const std::string& folder : data) {
    folders.push_back(JoinPath(folder, "bottles"));
    std::string text;
    if (ReadSmallHostFile(JoinPath(folder, "data.yml"), kConfigLimit, &text)) {
      std::string custom = search->Expand(BottlesCustomPath(text));
      if (!custom.empty()) folders.push_back(custom);
    }
  }
  for (const std::string& folder : folders) {
    for (const std::string& name : Names(folder)) {
      std::string bottle = JoinPath(folder, name);
      std::string text;
      if (ReadSmallHostFile(JoinPath(bottle, "placeholder.yml"), kConfigLimit,
                            &text))
        search->Add(search->Expand(BottlesPlaceholderPath(text)));
      search->Add(bottle);
    }
  }
}

void AddFaugus(Search* search) {
  const std::string lists[] = {
      JoinPath(search->data_home(), "faugus-launcher/games.json"),
      search->Home(std::string(kFaugusFlatpak) +
                   "/data/faugus-launcher/games.json"),
  };
  for (const std::string& list : lists) {
    std::string text;
    if (!ReadSmallHostFile(list, kConfigLimit, &text)) continue;
    for (const std::string& prefix : FaugusPrefixes(text))
      search->Add(search->Expand(prefix));
  }
  AddEach(search, search->Home("Faugus"));
}

void AddPortProton(Search* search) {
  std::vector<std::string> folders;
  std::string text;
  if (ReadSmallHostFile(search->Home(".config/PortProton.conf"), kConfigLimit,
                        &text)) {
    std::string folder = search->Expand(PortProtonFolder(text));
    if (!folder.empty()) folders.push_back(folder);
  }
  folders.push_back(search->Home("PortProton"));
  for (const std::string& folder : folders)
    AddEach(search, JoinPath(folder, "data/prefixes"), "DEFAULT");
}

}  // namespace

bool IsWinePrefix(const std::string& dir) {
  return IsKind(JoinPath(dir, "system.reg"), S_IFREG) &&
         IsKind(JoinPath(dir, "user.reg"), S_IFREG) &&
         IsKind(JoinPath(dir, "drive_c"), S_IFDIR) &&
         IsKind(JoinPath(dir, "dosdevices"), S_IFDIR);
}

std::vector<PrefixCandidate> FindPrefixCandidates(const std::string& home,
                                                  const char* xdg_data_home,
                                                  const char* xdg_config_home) {
  Search search(home, xdg_data_home, xdg_config_home);
  search.Add(search.Home(".wine"));
  AddSteam(&search);
  AddLutris(&search);
  AddHeroic(&search);
  AddBottles(&search);
  AddEach(&search, search.Home(".PlayOnLinux/wineprefix"));
  AddEach(&search, search.Home("Games/umu"));
  AddFaugus(&search);
  AddPortProton(&search);
  AddEach(&search, search.Home(".cxoffice"));
  return search.Take();
}

}  // namespace patcher
