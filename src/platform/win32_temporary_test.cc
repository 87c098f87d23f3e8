#include "platform/win32_temporary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace patcher {
namespace {

TEST(SplitWindowsPathTest, FolderKeepsItsSeparator) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {"C:\\Games\\Torvane 2000\\Data\\maps.mix",
       "C:\\Games\\Torvane 2000\\Data\\", "maps.mix"},
      {"C:\\game.dat", "C:\\", "game.dat"},
      {"C:game.dat", "C:", "game.dat"},
      {"game.dat", "", "game.dat"},
      {"Data/maps.mix", "Data/", "maps.mix"},
      {"\\\\server\\share\\x", "\\\\server\\share\\", "x"},
  };
  for (const Case& c : cases) {
    std::string folder, name;
    SplitWindowsPath(c.path, &folder, &name);
    EXPECT_EQ(folder, c.folder) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
  }
}

TEST(WindowsTemporaryNameTest, KnownAsOursAndDifferentPerNumber) {
  std::set<std::string> seen;
  for (uint64_t random : {0ull, 1ull, 61ull, 62ull, 0x9E3779B97F4A7C15ull}) {
    std::string temp = WindowsTemporaryName("maps.mix", random);
    EXPECT_EQ(temp.rfind(".maps.mix.patcher-", 0), 0u) << temp;
    EXPECT_EQ(temp.size(), 24u) << temp;
    EXPECT_TRUE(IsWindowsTemporaryName(temp)) << temp;
    EXPECT_TRUE(seen.insert(temp).second) << temp;
  }
}

TEST(WindowsTemporaryNameTest, OnlyOurOwnNamingIsOurs) {
  const std::pair<const char*, bool> cases[] = {
      {".maps.mix.patcher-Ab12Cd", true},
      {".x.patcher-000000", true},
      {".a.b.patcher-zzzzzz", true},
      {"maps.mix.patcher-Ab12Cd", false},  // not hidden
      {".patcher-Ab12Cd", false},          // no name before it
      {"..patcher-Ab12Cd", false},
      {".maps.mix.patcher-Ab12C", false},    // five
      {".maps.mix.patcher-Ab12Cde", false},  // seven
      {".maps.mix.patcher-Ab12C-", false},
      {".maps.mix.patcher-Ab12C\xe9", false},
      {".maps.mix.PATCHER-Ab12Cd", false},
      {"pat1A2B.tmp", false},  // what GetTempFileNameA made
  };
  for (const auto& [name, ours] : cases)
    EXPECT_EQ(IsWindowsTemporaryName(name), ours) << name;
}

TEST(FolderLockNameTest, OneNamePerFolder) {
  EXPECT_EQ(FolderLockName(0x5a000000u, 0xa74052u),
            "Local\\patcher-folder-5a000000-0000000000a74052");
  EXPECT_NE(FolderLockName(1, 2), FolderLockName(2, 1));
  EXPECT_NE(FolderLockName(1, 0x100000000ull), FolderLockName(1, 0));
}

}  // namespace
}  // namespace patcher
