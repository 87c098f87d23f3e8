// Tests of the names the Windows build makes of its paths and locks.

#include "platform/win32_names.h"

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

TEST(FolderLockNameTest, OneNamePerFolder) {
  EXPECT_EQ(FolderLockName(0x5a000000u, 0xa74052u),
            "Local\\patcher-folder-5a000000-0000000000a74052");
  EXPECT_NE(FolderLockName(1, 2), FolderLockName(2, 1));
  EXPECT_NE(FolderLockName(1, 0x100000000ull), FolderLockName(1, 0));
}

}  // namespace
}  // namespace patcher
