// Tests of the copies of a whole patch: batches, folders kept open, copies
// written ahead.

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
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "the old file's permissions";
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

// A destination is looked at when its turn comes, not when it is announced:
// what was written ahead for a file that is then written in place (a second
// name before or after the announcement) is dropped, and the file keeps its
// inode and its other names.
TEST_F(HostCopierTest, FilesWrittenInPlaceDropWhatWasWrittenAhead) {
  int probe = open(root().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "nothing is written ahead here";
  close(probe);
  Write("new", "new");
  Write("linked", "old linked");
  ASSERT_EQ(link(Path("linked").c_str(), Path("other").c_str()), 0);
  Write("later", "old later");
  size_t fds = OpenFds();

  Announce("new", "linked");
  EXPECT_GT(OpenFds(), fds) << "nothing was written ahead";
  Announce("new", "later");
  // Given a second name after it was written ahead: in place all the same.
  ASSERT_EQ(link(Path("later").c_str(), Path("later2").c_str()), 0);
  ino_t linked_inode = Lstat("linked").st_ino;
  ino_t later_inode = Lstat("later").st_ino;

  ASSERT_TRUE(Copy("new", "linked")) << error_;
  ASSERT_TRUE(Copy("new", "later")) << error_;
  EXPECT_EQ(Read("other"), "new");
  EXPECT_EQ(Read("later2"), "new");
  EXPECT_EQ(Lstat("linked").st_ino, linked_inode);
  EXPECT_EQ(Lstat("later").st_ino, later_inode);
  EXPECT_EQ(OpenFds(), fds);
  EXPECT_EQ(Names(""), (std::vector<std::string>{"later", "later2", "linked",
                                                 "new", "other"}));
}

// Unnamed files open in the folder `dir`: the copies written ahead there.
size_t UnnamedFilesIn(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (const dirent* e = readdir(d)) {
      char target[4096];
      std::string link = std::string("/proc/self/fd/") + e->d_name;
      ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
      if (len > 0 && std::string(target, len).rfind(dir + "/#", 0) == 0) ++n;
    }
    closedir(d);
  }
  return n;
}

// A copy that does not fit in what a batch may hold (64 MiB) waits, and is
// written ahead as soon as the copies before it have been made.
TEST_F(HostCopierTest, ACopyWaitsForRoomInTheBatch) {
  int probe = open(root().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "nothing is written ahead here";
  close(probe);
  MakeDir("game");
  for (const char* name : {"a", "b", "c", "d"}) {
    Write(name, "");
    ASSERT_EQ(truncate(Path(name).c_str(), 22 << 20), 0);  // holes: quick
    Announce(name, std::string("game/") + name);
  }
  EXPECT_EQ(UnnamedFilesIn(Path("game")), 2u);
  ASSERT_TRUE(Copy("a", "game/a")) << error_;
  EXPECT_EQ(UnnamedFilesIn(Path("game")), 2u) << "c was not written ahead";
  ASSERT_TRUE(Copy("b", "game/b")) << error_;
  ASSERT_TRUE(Copy("c", "game/c")) << error_;
  ASSERT_TRUE(Copy("d", "game/d")) << error_;
  EXPECT_EQ(UnnamedFilesIn(Path("game")), 0u);
  EXPECT_EQ(Lstat("game/d").st_size, 22 << 20);
}

// A copy that replaces a symbolic link to a folder: what was written ahead
// for that folder through the link's path is not put there afterwards.
TEST_F(HostCopierTest, NothingLandsBehindALinkTheRunReplaced) {
  Write("new", "new");
  MakeDir("real");
  ASSERT_EQ(symlink("real", Path("link").c_str()), 0);
  Announce("new", "link");
  Announce("new", "link/inner");
  ASSERT_TRUE(Copy("new", "link")) << error_;
  EXPECT_FALSE(Copy("new", "link/inner"));
  EXPECT_EQ(error_, "open(" + Path("link") + "): " + Strerror(ENOTDIR));
  EXPECT_EQ(Read("link"), "new");
  EXPECT_TRUE(Names("real").empty());
}

// The caller's lstat of the destination, taken just before, is what the
// copy goes by: here it shows a second name, so the file is written in place.
TEST_F(HostCopierTest, TakesTheCallersLookAtTheDestination) {
  Write("new", "new");
  Write("dest", "old");
  DestLook look;
  look.exists = true;
  look.st = Lstat("dest");
  look.st.st_nlink = 2;
  ASSERT_TRUE(copier_.Copy(Path("new"), Path("dest"), &error_, &look))
      << error_;
  EXPECT_EQ(Read("dest"), "new");
  EXPECT_EQ(Lstat("dest").st_ino, look.st.st_ino);
}

TEST_F(HostCopierTest, RemovesLeftoversWhereItWritesAndSaysSo) {
  Write("new", "new");
  MakeDir("game");
  MakeDir("elsewhere");
  Write("game/.a.patcher-Ab12Cd", "left");
  Write("elsewhere/.a.patcher-Ab12Cd", "left");
  Announce("new", "game/a");
  ASSERT_TRUE(Copy("new", "game/a")) << error_;
  EXPECT_EQ(
      copier_.TakeNotes(),
      std::vector<std::string>{"removed " + Path("game/.a.patcher-Ab12Cd") +
                               ", left by an interrupted run"});
  EXPECT_TRUE(copier_.TakeNotes().empty());
  EXPECT_EQ(Names("game"), std::vector<std::string>{"a"});
  EXPECT_EQ(Names("elsewhere"), std::vector<std::string>{".a.patcher-Ab12Cd"});
}

}  // namespace
}  // namespace patcher
