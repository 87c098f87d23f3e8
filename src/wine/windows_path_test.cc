// Tests of taking Windows paths apart.

#include "wine/windows_path.h"

#include <gtest/gtest.h>

#include <string>

namespace patcher {
namespace {

// Shows how `path` parses, as a normalized Windows path; " (dir)" marks a
// trailing separator.
std::string Parsed(const std::string& path) {
  WindowsPath parsed;
  if (!ParseWindowsPath(path, &parsed)) return "invalid";
  std::string shown;
  if (parsed.drive) shown += std::string(1, parsed.drive) + ":";
  if (parsed.rooted) shown += "\\";
  for (size_t i = 0; i < parsed.components.size(); ++i)
    shown += (i ? "\\" : "") + parsed.components[i];
  return parsed.trailing_separator ? shown + " (dir)" : shown;
}

TEST(ParseWindowsPathTest, SplitsDriveRootAndNames) {
  EXPECT_EQ(Parsed("C:\\Games\\Torvane\\Data\\x.mix"),
            "C:\\Games\\Torvane\\Data\\x.mix");
  EXPECT_EQ(Parsed("c:/Games//Data\\\\\\x.mix"), "C:\\Games\\Data\\x.mix");
  EXPECT_EQ(Parsed("data\\x.mix"), "data\\x.mix");
  EXPECT_EQ(Parsed("\\tmp/x"), "\\tmp\\x");
  EXPECT_EQ(Parsed("z:\\"), "Z:\\ (dir)");
}

TEST(ParseWindowsPathTest, ResolvesDotsTextually) {
  EXPECT_EQ(Parsed("C:\\a\\.\\b\\..\\c"), "C:\\a\\c");
  EXPECT_EQ(Parsed("C:\\a\\..\\..\\..\\x"), "C:\\x");
  EXPECT_EQ(Parsed("\\..\\x"), "\\x");
  // A relative path may climb above the working directory.
  EXPECT_EQ(Parsed("..\\a\\..\\..\\x"), "..\\..\\x");
  EXPECT_EQ(Parsed("a\\b\\.."), "a");
}

TEST(ParseWindowsPathTest, DriveRelativePathsKeepTheirDrive) {
  EXPECT_EQ(Parsed("C:x.mix"), "C:x.mix");
  EXPECT_EQ(Parsed("c:..\\a\\..\\..\\x"), "C:..\\..\\x");
}

TEST(ParseWindowsPathTest, DropsTrailingDotsAndBlanksOfLastName) {
  EXPECT_EQ(Parsed("Data\\x.mix "), "Data\\x.mix");
  EXPECT_EQ(Parsed("Data\\x.mix."), "Data\\x.mix");
  EXPECT_EQ(Parsed("Data\\x.mix. . "), "Data\\x.mix");
  EXPECT_EQ(Parsed("Data.\\ x.mix"), "Data.\\ x.mix");
  EXPECT_EQ(Parsed("Data\\x.mix.\\"), "Data\\x.mix. (dir)");
  EXPECT_EQ(Parsed("Data\\..."), "Data (dir)");
  // Once `.` and `..` are resolved.
  EXPECT_EQ(Parsed("Data\\x.mix. \\."), "Data\\x.mix");
  EXPECT_EQ(Parsed("Data. \\x\\.."), "Data");
}

TEST(ParseWindowsPathTest, MarksTrailingSeparator) {
  EXPECT_EQ(Parsed("C:\\Games\\x.mix\\"), "C:\\Games\\x.mix (dir)");
  EXPECT_EQ(Parsed("Data/"), "Data (dir)");
  EXPECT_EQ(Parsed("Data\\."), "Data");
}

TEST(ParseWindowsPathTest, RejectsPathsNamingNoFileOnADrive) {
  for (const std::string path :
       {"", "\\\\server\\share\\x", "//server/share/x", "\\\\?\\C:\\x",
        "\\\\.\\COM1", "1:\\x", "@:\\x", "C:", "C:\\a:b", "C:\\Data\\*.mix",
        "C:\\a?\\b", "a\"b", "a|b", "a<b", "a>b", "a\tb"}) {
    EXPECT_EQ(Parsed(path), "invalid") << path;
  }
  EXPECT_EQ(Parsed(std::string("a\0b", 3)), "invalid");
}

}  // namespace
}  // namespace patcher
