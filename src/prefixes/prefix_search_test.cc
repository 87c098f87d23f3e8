// Tests of the candidate prefixes found in a home folder laid out as each
// launcher lays it out.

#include "prefixes/prefix_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace patcher {
namespace {

class PrefixSearchTest : public testing::Test, public ScratchDir {
 protected:
  /// Makes the folder `rel` and those above it.
  void Dirs(const std::string& rel) {
    for (size_t pos = 0; pos != std::string::npos;) {
      pos = rel.find('/', pos + 1);
      mkdir(Path(rel.substr(0, pos)).c_str(), 0755);
    }
  }
  void File(const std::string& rel, const std::string& text) {
    Dirs(rel.substr(0, rel.rfind('/')));
    Write(rel, text);
  }
  void Link(const std::string& rel, const std::string& target) {
    Dirs(rel.substr(0, rel.rfind('/')));
    ASSERT_EQ(0, symlink(target.c_str(), Path(rel).c_str())) << rel;
  }
  /// A prefix at `rel`, or a folder that lacks `missing` to be one.
  void Prefix(const std::string& rel, const std::string& missing = "") {
    Dirs(rel);
    for (const char* file : {"system.reg", "user.reg"})
      if (missing != file) Write(rel + "/" + file, "WINE REGISTRY Version 2\n");
    for (const char* dir : {"drive_c", "dosdevices"})
      if (missing != dir) Dirs(rel + "/" + dir);
  }
  std::vector<std::string> Found(const char* xdg = nullptr,
                                 const char* xdg_config = nullptr) {
    std::vector<std::string> found;
    for (const PrefixCandidate& c :
         FindPrefixCandidates(Path("home"), xdg, xdg_config))
      found.push_back(c.path.substr(root().size() + 1) +
                      (c.steam_name.empty() ? "" : " (" + c.steam_name + ")"));
    return found;
  }
};

TEST_F(PrefixSearchTest, EveryLauncherInItsOrderEachFolderOnce) {
  Dirs("home");
  Prefix("home/.wine");
  // Steam: the root and a second library elsewhere; the game's manifest in
  // one library, its prefix in the other; a folder that is no prefix.
  const std::string steam = "home/.local/share/Steam/steamapps/";
  File(steam + "libraryfolders.vdf",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" +
           Path("home/.local/share/Steam") +
           "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + Path("mnt/lib2") +
           "\"\n\t}\n}\n");
  Prefix(steam + "compatdata/111/pfx");
  Prefix(steam + "compatdata/222/pfx", "user.reg");
  File(steam + "appmanifest_333.acf", "\"AppState\" { \"name\" \"Torvane\" }");
  Prefix("mnt/lib2/steamapps/compatdata/333/pfx");
  Link("home/.steam/steam", Path("home/.local/share/Steam"));
  Link("home/.steam/root", "steam");
  // Flatpak Steam, with data/Steam a link to it; Snap Steam, old form.
  Prefix(
      "home/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/"
      "compatdata/444/pfx");
  Link("home/.var/app/com.valvesoftware.Steam/data/Steam",
       "../.local/share/Steam");
  File("home/snap/steam/common/.local/share/Steam/SteamApps/libraryfolders.vdf",
       "\"LibraryFolders\" { \"TimeNextStatsReport\" \"1\" \"1\" \"" +
           Path("mnt/lib3") + "\" }");
  Prefix("mnt/lib3/SteamApps/compatdata/555/pfx");
  // Lutris: a game's prefix under ~, one that repeats ~/.wine through a
  // link, and files that are no configuration at all.
  File("home/.config/lutris/games/torvane-1.yml",
       "game:\n  exe: x.exe\n  prefix: ~/Games/torvane\n");
  Prefix("home/Games/torvane");
  Link("home/wine-link", ".wine");
  File("home/.config/lutris/games/again.yml", "game:\n  prefix: ~/wine-link\n");
  File("home/.config/lutris/games/junk.yml", "\xff\x00game: [");
  ASSERT_EQ(0,
            mkfifo(Path("home/.config/lutris/games/fifo.yml").c_str(), 0644));
  // Heroic: a Proton game's prefix, the default from config.json, and the
  // Prefixes folder.
  File("home/.config/heroic/GamesConfig/Torvane.json",
       "{\"Torvane\": {\"winePrefix\": \"" + Path("mnt/heroic/Torvane") +
           "\", \"wineVersion\": {\"type\": \"proton\"}}}");
  Prefix("mnt/heroic/Torvane/pfx");
  File("home/.config/heroic/config.json",
       "{\"defaultSettings\": {\"winePrefix\": \"~/Games/Heroic/Prefixes/"
       "default\"}}");
  Prefix("home/Games/Heroic/Prefixes/default");
  Prefix("home/Games/Heroic/Prefixes/shared");
  // Bottles: a bottle in place, one kept elsewhere, a link loop.
  Prefix("home/.local/share/bottles/bottles/Plain");
  File("home/.local/share/bottles/bottles/Away/placeholder.yml",
       "Path: " + Path("mnt/away") + "\n");
  Prefix("mnt/away");
  Link("home/.local/share/bottles/bottles/loop", "loop");
  Prefix("home/.PlayOnLinux/wineprefix/Pol");

  EXPECT_EQ(std::vector<std::string>({
                "home/.wine",
                // Steam's roots, then the libraries they list.
                "home/.local/share/Steam/steamapps/compatdata/111/pfx",
                "home/.var/app/com.valvesoftware.Steam/.local/share/Steam/"
                "steamapps/compatdata/444/pfx",
                "mnt/lib2/steamapps/compatdata/333/pfx (Torvane)",
                "mnt/lib3/SteamApps/compatdata/555/pfx",
                "home/Games/torvane",
                // Heroic's defaults, its games, its Prefixes folder.
                "home/Games/Heroic/Prefixes/default",
                "mnt/heroic/Torvane/pfx",
                "home/Games/Heroic/Prefixes/shared",
                "mnt/away",
                "home/.local/share/bottles/bottles/Plain",
                "home/.PlayOnLinux/wineprefix/Pol",
            }),
            Found());
}

// What the discovery suite does not see: keys that only look like Steam's,
// where the climb from a Lutris executable stops, PortProton's DEFAULT first.
TEST_F(PrefixSearchTest, TheLaterPlacesInTheirOrder) {
  Dirs("home");
  File("home/.steam/steam/config/config.vdf",
       "Software { Steam { BaseInstallFolder_1 \"" + Path("mnt/b") +
           "\" BaseInstallFolderX \"" + Path("mnt/c") + "\" } }");
  Prefix("mnt/b/steamapps/compatdata/2/pfx");
  Prefix("mnt/c/steamapps/compatdata/3/pfx");
  File("config/lutris/games/u.yml", "game:\n  exe: ~/Games/u/game/u.exe\n");
  Prefix("home/Games/u/pfx");
  File("config/lutris/games/v.yml", "game:\n  exe: /v.exe\n");
  File("config/lutris/games/w.yml", "game:\n  exe: ~/Games/w/w.exe\n");
  Prefix("home/Games/w/prefix", "user.reg");
  Prefix("home/PortProton/data/prefixes/A");
  Prefix("home/PortProton/data/prefixes/DEFAULT");
  Prefix("home/.cxoffice/Bottle");
  std::string config = Path("config");
  EXPECT_EQ(std::vector<std::string>({
                "mnt/b/steamapps/compatdata/2/pfx",
                "home/Games/u/pfx",
                "home/PortProton/data/prefixes/DEFAULT",
                "home/PortProton/data/prefixes/A",
                "home/.cxoffice/Bottle",
            }),
            Found(nullptr, config.c_str()));
}

TEST_F(PrefixSearchTest, DataHomeAndDamagedPlaces) {
  Dirs("home");
  Prefix("data/Steam/steamapps/compatdata/1/pfx");
  Prefix("data/bottles/bottles/B");
  Prefix("home/.local/share/bottles/bottles/NotHere");
  // A library list that is junk, or names relative folders and itself.
  File("data/Steam/steamapps/libraryfolders.vdf",
       "libraryfolders { 0 { path relative } 1 { path \"" + Path("data/Steam") +
           "\" } } } {{ \"");
  // A ~ that is no home folder, a relative prefix, a placeholder that sends
  // nowhere.
  File("home/.config/lutris/games/a.yml", "game:\n  prefix: ~other/x\n");
  File("home/.config/lutris/games/b.yml", "game:\n  prefix: Games/x\n");
  File("data/bottles/bottles/C/placeholder.yml", "Path: /nowhere\n");
  std::string data = Path("data");
  EXPECT_EQ(std::vector<std::string>({"data/Steam/steamapps/compatdata/1/pfx",
                                      "data/bottles/bottles/B"}),
            Found(data.c_str()));
  // A relative XDG_DATA_HOME is no data home.
  EXPECT_EQ(
      std::vector<std::string>({"home/.local/share/bottles/bottles/NotHere"}),
      Found("data"));
}

TEST_F(PrefixSearchTest, AFolderIsAPrefixOnlyWithAllFourParts) {
  for (const char* missing :
       {"", "system.reg", "user.reg", "drive_c", "dosdevices"}) {
    std::string rel = std::string("p") + missing;
    Prefix(rel, missing);
    EXPECT_EQ(*missing == '\0', IsWinePrefix(Path(rel))) << missing;
  }
  Write("f", "");
  Prefix("q", "drive_c");
  Write("q/drive_c", "");  // a file of that name is not the folder
  EXPECT_FALSE(IsWinePrefix(Path("q")));
}

}  // namespace
}  // namespace patcher
