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
      {"game:\n  prefix: /home/u/Games/a very long\n    name indeed\n  exe: "
       "x\n",
       "game", "prefix", "/home/u/Games/a very long name indeed"},
      {"game:\n  prefix: \"/home/u/a very\n    long name\"\n", "game", "prefix",
       "/home/u/a very long name"},
      // Lutris (yaml.safe_dump): a prefix beyond ASCII over three lines.
      {"game:\n"
       "  exe: "
       "\"/home/jos\\xE9/Games/"
       "\\u0412\\u0435\\u0434\\u044C\\u043C\\u0430\\u043A 3 \\u0414\\u0438\\\n"
       "    \\u043A\\u0430\\u044F \\u041E\\u0445\\u043E\\u0442\\u0430 \\u2014 "
       "\\u0418\\u0437\\u0434\\u0430\\\n"
       "    \\u043D\\u0438\\u0435 \\xAB\\u0418\\u0433\\u0440\\u0430 "
       "\\u0433\\u043E\\u0434\\u0430\\xBB/prefix/drive_c/witcher3.exe\"\n"
       "  prefix: "
       "\"/home/jos\\xE9/Games/"
       "\\u0412\\u0435\\u0434\\u044C\\u043C\\u0430\\u043A 3 \\u0414\\\n"
       "    \\u0438\\u043A\\u0430\\u044F \\u041E\\u0445\\u043E\\u0442\\u0430 "
       "\\u2014 \\u0418\\u0437\\u0434\\\n"
       "    \\u0430\\u043D\\u0438\\u0435 \\xAB\\u0418\\u0433\\u0440\\u0430 "
       "\\u0433\\u043E\\u0434\\u0430\\\n"
       "    \\xBB/prefix\"\n"
       "name: \"\\u0412\\u0435\\u0434\\u044C\\u043C\\u0430\\u043A\"\n"
       "system: {}\n",
       "game", "prefix",
       "/home/jos\xc3\xa9/Games/"
       "\xd0\x92\xd0\xb5\xd0\xb4\xd1\x8c\xd0\xbc\xd0\xb0\xd0\xba 3 "
       "\xd0\x94\xd0\xb8\xd0\xba\xd0\xb0\xd1\x8f "
       "\xd0\x9e\xd1\x85\xd0\xbe\xd1\x82\xd0\xb0 \xe2\x80\x94 "
       "\xd0\x98\xd0\xb7\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xb8\xd0\xb5 "
       "\xc2\xab\xd0\x98\xd0\xb3\xd1\x80\xd0\xb0 "
       "\xd0\xb3\xd0\xbe\xd0\xb4\xd0\xb0\xc2\xbb/prefix"},
      // Bottles (yaml.dump, SafeDumper): a placeholder's Path.
      {"Name: x\n"
       "Path: "
       "\"/mnt/\\u30C7\\u30A3\\u30B9\\u30AF/\\u30DC\\u30C8\\u30EB/"
       "\\u3068\\u3066\\u3082\\u9577\\u3044\\\n"
       "  "
       "\\u540D\\u524D\\u306E\\u30DC\\u30C8\\u30EB/"
       "\\u3055\\u3089\\u306B\\u9577\\u3044\\u30D5\\u30A9\\u30EB\\\n"
       "  \\u30C0\\u540D/\\u3082\\u3063\\u3068\"\n",
       "", "Path",
       "/mnt/\xe3\x83\x87\xe3\x82\xa3\xe3\x82\xb9\xe3\x82\xaf/"
       "\xe3\x83\x9c\xe3\x83\x88\xe3\x83\xab/"
       "\xe3\x81\xa8\xe3\x81\xa6\xe3\x82\x82\xe9\x95\xb7\xe3\x81\x84\xe5\x90"
       "\x8d\xe5\x89\x8d\xe3\x81\xae\xe3\x83\x9c\xe3\x83\x88\xe3\x83\xab/"
       "\xe3\x81\x95\xe3\x82\x89\xe3\x81\xab\xe9\x95\xb7\xe3\x81\x84\xe3\x83"
       "\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80\xe5\x90\x8d/"
       "\xe3\x82\x82\xe3\x81\xa3\xe3\x81\xa8"},
      // Every escape PyYAML writes (and a NUL, below).
      {"Path: \"\\a\\b\\v\\f\\e\\r\\N\\P\\uFEFF \\xE9\\t\\\"q\\\" "
       "back\\\\slash\\x01\\x7F\\_\\L\\U0001F600\"\n",
       "", "Path",
       "\x07\x08\x0b\x0c\x1b\x0d\xc2\x85\xe2\x80\xa9\xef\xbb\xbf "
       "\xc3\xa9\t\"q\" "
       "back\\slash\x01\x7f\xc2\xa0\xe2\x80\xa8\xf0\x9f\x98\x80"},
      // Empty lines in single quotes are line feeds.
      {"Path: 'ab\n"
       "\n"
       "\n"
       "  line2\n"
       "\n"
       "  line3 word word word word word word word word word word word word "
       "word word word\n"
       "  word word word word word word word word word word word word word "
       "word word'\n",
       "", "Path",
       "ab\n"
       "\n"
       "line2\n"
       "line3 word word word word word word word word word word word word word "
       "word word word word word word word word word word word word word word "
       "word word word"},
      // Folding: blanks around a break go; an escaped break joins with
      // nothing, keeping the blanks before it.
      {"Path: \"a  \n   b \\\n  \\ c\\\t\n\n  d\\\n\n  e\"\n", "", "Path",
       "a b  c\t\nd\ne"},
      // An escape YAML does not have: not a text.
      {"Path: \"/a\\qb\"\n", "", "Path", ""},
      {"Path: \"/a\\u00\"\n", "", "Path", ""},
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
  EXPECT_EQ(std::string("a\0b", 3), YamlValue("k: \"a\\0b\"", "", "k"));
}

TEST(LauncherConfigTest, HeroicWinePrefixesAnywhere) {
  struct Case {
    const char* json;
    Texts prefixes;
  };
  const Case cases[] = {
      {"{\n  \"Torvane\": {\n    \"winePrefix\": \"/home/u/Games/Heroic/"
       "Prefixes/Torvane\",\n    \"wineVersion\": {\"type\": \"proton\"}\n  "
       "}\n}",
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

TEST(LauncherConfigTest, PortProtonFolderAndBottlesCustomPath) {
  EXPECT_EQ("/home/u/PortProton", PortProtonFolder("/home/u/PortProton\n"));
  EXPECT_EQ("/mnt/p p", PortProtonFolder("\n  \r\n \"/mnt/p p\" \r\nx\n"));
  EXPECT_EQ("", PortProtonFolder(" \n\t\n"));
  EXPECT_EQ("/mnt/b", BottlesCustomPath("notifications: true\n"
                                        "custom_bottles_path: /mnt/b\n"));
  EXPECT_EQ("", BottlesCustomPath("custom_bottles_path: ''\n"));
}

}  // namespace
}  // namespace patcher
