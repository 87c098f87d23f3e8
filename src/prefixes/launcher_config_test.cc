// Tests of reading the launchers' files, as each launcher writes them and
// damaged.

#include "prefixes/launcher_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace patcher {
namespace {

using Texts = std::vector<std::string>;

TEST(LauncherConfigTest, SteamLibraryFoldersInBothForms) {
  struct Case {
    const char* vdf;
    Texts folders;
  };
  const Case cases[] = {
      {"\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/u/.local/"
       "share/Steam\"\n\t\t\"label\"\t\t\"\"\n\t\t\"apps\"\n\t\t{\n\t\t\t"
       "\"228980\"\t\t\"123\"\n\t\t}\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t"
       "\"/mnt/games/SteamLibrary\"\n\t}\n}\n",
       {"/home/u/.local/share/Steam", "/mnt/games/SteamLibrary"}},
      {"\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1600000000\"\n"
       "\t\"ContentStatsID\"\t\t\"-1\"\n\t\"1\"\t\t\"/mnt/old\"\n"
       "\t\"2\"\t\t\"/mnt/older\"\n}\n",
       {"/mnt/old", "/mnt/older"}},
      // Keys in any case; a section without a path, an empty path, a list
      // that is not a section and other files give nothing.
      {"LIBRARYFOLDERS { 0 { PATH /a } 1 { label x } 2 { path \"\" } }",
       {"/a"}},
      {"libraryfolders /a", {}},
      {"AppState { name x }", {}},
      {"\x7f\xff{{}}\"", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.folders, SteamLibraryFolders(c.vdf)) << c.vdf;
  }
}

TEST(LauncherConfigTest, SteamAppName) {
  EXPECT_EQ("Torvane 2000",
            SteamAppName("\"AppState\"\n{\n\t\"appid\"\t\t\"1234\"\n\t\"name\""
                         "\t\t\"Torvane 2000\"\n\t\"installdir\"\t\t\"T\"\n}"));
  EXPECT_EQ("", SteamAppName("\"AppState\" { \"name\" { } }"));
  EXPECT_EQ("", SteamAppName("name x"));
}

TEST(LauncherConfigTest, YamlValuesAsLaunchersWriteThem) {
  struct Case {
    const char* yaml;
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      // Lutris: the game section's prefix, not another section's.
      {"game:\n  exe: /x/game.exe\n  prefix: /home/u/Games/torvane\n"
       "system:\n  prefix: /wrong\nwine:\n  version: lutris-7\n",
       "game", "prefix", "/home/u/Games/torvane"},
      {"wine:\n  prefix: /wrong\ngame:\n  prefix: ~/Games/t # a comment\n",
       "game", "prefix", "~/Games/t"},
      {"game:\r\n    args: ''\r\n    prefix: '/it''s here'\r\n", "game",
       "prefix", "/it's here"},
      {"game:\n  prefix: \"/a\\\\b \\\"c\\\" \\xe9\\u00e9\\U0001F600\"\n",
       "game", "prefix", "/a\\b \"c\" \xc3\xa9\xc3\xa9\xf0\x9f\x98\x80"},
      // A long value continued on deeper lines, as PyYAML folds it.
      {"game:\n  prefix: /home/u/Games/a very long\n    name indeed\n  exe: x\n",
       "game", "prefix", "/home/u/Games/a very long name indeed"},
      {"game:\n  prefix: \"/home/u/a very\n    long name\"\n", "game", "prefix",
       "/home/u/a very long name"},
      // Keys of nested sections, other sections, blocks: nothing.
      {"game:\n  sub:\n    prefix: /nested\n", "game", "prefix", ""},
      {"games:\n  prefix: /other\n", "game", "prefix", ""},
      {"game:\nprefix: /top\n", "game", "prefix", ""},
      {"game:\n  prefix: |\n    /block\n", "game", "prefix", ""},
      {"game:\n  prefix:\n    - /list\n", "game", "prefix", ""},
      {"game:\n  prefix: \"/unterminated\n", "game", "prefix", ""},
      {"game:\n  prefixes: /p\n", "game", "prefix", ""},
      // Bottles' placeholder: a top-level key.
      {"Path: /mnt/bottles/Torvane\n", "", "Path", "/mnt/bottles/Torvane"},
      {"Other:\n  Path: /nested\nPath: /top\n", "", "Path", "/top"},
      {"\xff\x00:\n\n", "", "Path", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, YamlValue(c.yaml, c.section, c.key)) << c.yaml;
  }
  EXPECT_EQ("/p", LutrisPrefix("game:\n  prefix: /p\n"));
  EXPECT_EQ("/p", BottlesPlaceholderPath("Path: /p\n"));
}

TEST(LauncherConfigTest, HeroicWinePrefixesAnywhere) {
  struct Case {
    const char* json;
    Texts prefixes;
  };
  const Case cases[] = {
      {"{\n  \"Torvane\": {\n    \"winePrefix\": \"/home/u/Games/Heroic/"
       "Prefixes/Torvane\",\n    \"wineVersion\": {\"type\": \"proton\"}\n  }\n}",
       {"/home/u/Games/Heroic/Prefixes/Torvane"}},
      {"{\"defaultSettings\":{\"winePrefix\":\"~/Games/Heroic/Prefixes/"
       "default\"},\"x\":[{\"winePrefix\" : \"/b\"}]}",
       {"~/Games/Heroic/Prefixes/default", "/b"}},
      // Escapes; a name that is only a value; other types; junk.
      {"{\"winePrefix\":\"\\/a\\\\b\\u00e9\\ud83d\\ude00\\ud83d\"}",
       {"/a\\b\xc3\xa9\xf0\x9f\x98\x80\xef\xbf\xbd"}},
      {"[\"winePrefix\", \"/not\"] {\"k\": \"winePrefix\"}", {}},
      {"{\"winePrefix\": 3, \"winePrefix\": null, \"winePrefix\": \"\"}", {}},
      {"{\"a\": \"\\\"winePrefix\\\": \\\"/inside\\\"\"}", {}},
      {"{\"winePrefix\": \"/cut", {}},
      {"\"winePrefix\":\"/first\"\xff\x00{\"winePrefix\":\"/x", {"/first"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.prefixes, HeroicWinePrefixes(c.json)) << c.json;
  }
}

}  // namespace
}  // namespace patcher
