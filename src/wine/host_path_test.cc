#include "wine/host_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "test_util.h"
#include "wine/copy.h"
#include "wine/host_file.h"

namespace patcher {
namespace {

// A prefix at <root>/prefix whose drive C: holds Games/Data/file.mix.
class MapToHostTest : public testing::Test, public ScratchDir {
 protected:
  void SetUp() override {
    for (const char* dir :
         {"prefix", "prefix/dosdevices", "prefix/drive_c",
          "prefix/drive_c/Games", "prefix/drive_c/Games/Data"})
      MakeDir(dir);
    ASSERT_EQ(symlink("../drive_c", Path("prefix/dosdevices/c:").c_str()), 0);
    Write("prefix/drive_c/Games/Data/file.mix", "mix");
    prefix_ = Path("prefix");
    data_ = prefix_ + "/dosdevices/c:/Games/Data";
  }
  std::string Map(const std::string& windows_path) {
    std::string host;
    EXPECT_TRUE(MapToHost(prefix_, windows_path, &host)) << windows_path;
    return host;
  }

  std::string prefix_;
  std::string data_;
};

TEST_F(MapToHostTest, FindsEachNameIgnoringCase) {
  EXPECT_EQ(Map("C:\\GAMES\\DATA\\FILE.MIX"), data_ + "/file.mix");
  EXPECT_EQ(Map("c:/games\\\\data//File.Mix. "), data_ + "/file.mix");
  EXPECT_EQ(Map("C:\\Games\\Data\\..\\DATA\\.\\New.MIX"), data_ + "/New.MIX");
  EXPECT_EQ(Map("C:\\Games\\MISSING\\DATA\\FILE.MIX"),
            prefix_ + "/dosdevices/c:/Games/MISSING/DATA/FILE.MIX");
  EXPECT_EQ(HostAttributes(Map("C:\\games\\data\\file.mix")),
            kAttributeArchive);
}

TEST_F(MapToHostTest, ExactNameWinsOverCaseMatch) {
  Write("prefix/drive_c/Games/Data/FILE.MIX", "upper");
  EXPECT_EQ(Map("C:\\Games\\Data\\FILE.MIX"), data_ + "/FILE.MIX");
  EXPECT_EQ(Map("C:\\Games\\Data\\file.mix"), data_ + "/file.mix");
}

TEST_F(MapToHostTest, RelativeAndDrivelessPaths) {
  ASSERT_EQ(chdir(Path("prefix/drive_c/Games").c_str()), 0);
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(Map("data\\FILE.MIX"), std::string(cwd) + "/Data/file.mix");

  std::string rooted = root() + "/PREFIX/DRIVE_C";
  std::replace(rooted.begin(), rooted.end(), '/', '\\');
  EXPECT_EQ(Map(rooted), Path("prefix/drive_c"));
}

TEST_F(MapToHostTest, TrailingSeparatorNamesOnlyADirectory) {
  EXPECT_EQ(HostAttributes(Map("C:\\Games\\DATA\\")), kAttributeDirectory);
  std::string file = Map("C:\\Games\\Data\\file.mix\\");
  EXPECT_EQ(HostAttributes(file), kInvalidAttributes);
  EXPECT_EQ(OpenHostFile(file, nullptr), nullptr);
}

TEST_F(MapToHostTest, UnmappablePaths) {
  std::string host;
  EXPECT_FALSE(MapToHost(prefix_, "\\\\server\\share\\x.mix", &host));
  EXPECT_FALSE(MapToHost(prefix_, "C:x.mix", &host));
  EXPECT_FALSE(MapToHost("", "C:\\x.mix", &host));
}

TEST_F(MapToHostTest, SeesNamesCreatedAfterAListing) {
  Write("new.mix", "new");
  std::string created = Map("C:\\Games\\DATA\\NEW.MIX");
  ASSERT_EQ(created, data_ + "/NEW.MIX");
  std::string error;
  ASSERT_TRUE(CopyHostFile(Path("new.mix"), created, &error)) << error;
  EXPECT_EQ(Map("C:\\Games\\Data\\new.mix"), data_ + "/NEW.MIX");

  // Created by someone else. Give the directory a new time explicitly: two
  // changes within one clock tick may share one.
  Write("prefix/drive_c/Games/Data/Other.mix", "other");
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, data_.c_str(), times, 0), 0);
  EXPECT_EQ(Map("C:\\Games\\Data\\OTHER.MIX"), data_ + "/Other.mix");
}

}  // namespace
}  // namespace patcher
