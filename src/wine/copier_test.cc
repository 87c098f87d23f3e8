#include "wine/copier.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace patcher {
namespace {

std::string Strerror(int err) { return strerror(err); }

// HostCopier: announced copies end as CopyHostFile's do.
class HostCopierTest : public testing::Test, public ScratchDir {
 protected:
  void Announce(const std::string& from, const std::string& to) {
    copier_.Announce(Path(from), Path(to));
  }
  bool Copy(const std::string& from, const std::string& to) {
    return copier_.Copy(Path(from), Path(to), &error_);
  }
  static size_t OpenFds() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
      while (readdir(d)) ++n;
      closedir(d);
    }
    return n;
  }

  HostCopier copier_;
  std::string error_;
};

TEST_F(HostCopierTest, WritesAheadUnseenThenReplacesAsCopyHostFile) {
  Write("a", "new a");
  Write("b", "new b", 0444);
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("a").c_str(), times, 0), 0);
  MakeDir("game");
  Write("game/a", "old a", 0600);
  size_t fds = OpenFds();

  Announce("a", "game/a");
  Announce("b", "game/b");
  int probe = open(root().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe >= 0) {
    close(probe);
    EXPECT_GT(OpenFds(), fds) << "nothing was written ahead";
  }
  EXPECT_EQ(Names("game"), std::vector<std::string>{"a"});
  EXPECT_EQ(Read("game/a"), "old a");

  ASSERT_TRUE(Copy("a", "game/a")) << error_;
  EXPECT_EQ(Names("game"), std::vector<std::string>{"a"});
  ASSERT_TRUE(Copy("b", "game/b")) << error_;
  EXPECT_EQ(Read("game/a"), "new a");
  EXPECT_EQ(Read("game/b"), "new b");
  struct stat st = Lstat("game/a");
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  EXPECT_EQ(Lstat("game/b").st_mode & 07777, 0444u);
  EXPECT_EQ(Names("game"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(OpenFds(), fds);
}

TEST_F(HostCopierTest, CopiesSourcesAsTheyAreWhenTheirTurnComes) {
  // The second copy's source is the first one's destination: it must get
  // the data the first copy put there, not what was there when announced.
  Write("new", "new");
  Write("first", "old first");
  Write("second", "old second");
  Write("third", "old third");
  Announce("new", "first");
  Announce("first", "second");
  Announce("third", "elsewhere");
  ASSERT_TRUE(Copy("new", "first")) << error_;
  ASSERT_TRUE(Copy("first", "second")) << error_;
  EXPECT_EQ(Read("second"), "new");

  // Rewritten in place after its announcement.
  std::ofstream(Path("third"), std::ios::binary) << "newer third";
  ASSERT_TRUE(Copy("third", "elsewhere")) << error_;
  EXPECT_EQ(Read("elsewhere"), "newer third");
}

TEST_F(HostCopierTest, FailuresAndOtherPathsAreThoseOfCopyHostFile) {
  Write("new", "new");
  Write("readonly", "old", 0444);
  Announce("new", "readonly");
  Announce("", "");  // a copy that fails before it is made
  Announce("new", "planned");
  Announce("new", "unannounced");

  EXPECT_FALSE(Copy("new", "readonly"));
  EXPECT_EQ(error_, "open(" + Path("readonly") + "): " + Strerror(EACCES));
  EXPECT_EQ(Read("readonly"), "old");
  copier_.Skip();
  // Announced for one destination, made for another.
  ASSERT_TRUE(Copy("new", "actual")) << error_;
  ASSERT_TRUE(Copy("new", "unannounced")) << error_;
  EXPECT_EQ(Read("actual"), "new");
  EXPECT_EQ(Read("unannounced"), "new");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"actual", "new", "readonly",
                                                 "unannounced"}));
}

}  // namespace
}  // namespace patcher
