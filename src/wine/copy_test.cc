// Tests of one copy: rename or write in place, what the file keeps, temporaries
// and killed copies.

#include "wine/copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "test_util.h"
#include "text/temporary_name.h"

namespace patcher {
namespace {

std::string Strerror(int err) { return strerror(err); }

// Copy tests run with an unnamed (O_TMPFILE) and with a named temporary.
class CopyHostFileTest : public testing::TestWithParam<bool>,
                         public ScratchDir {
 protected:
  void SetUp() override { SetUnnamedTemporariesForTesting(GetParam()); }
  void TearDown() override { SetUnnamedTemporariesForTesting(true); }
  bool Copy(const std::string& from, const std::string& to) {
    return CopyHostFile(Path(from), Path(to), &error_);
  }

  std::string error_;
};

INSTANTIATE_TEST_SUITE_P(Temporaries, CopyHostFileTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Unnamed" : "Named";
                         });

TEST_P(CopyHostFileTest, ReplacesDestinationWithNewFile) {
  Write("new", "new contents");
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("new").c_str(), times, 0), 0);
  Write("dest", "old", 0600);
  ino_t old_inode = Lstat("dest").st_ino;

  ASSERT_TRUE(Copy("new", "dest")) << error_;
  EXPECT_EQ(Read("dest"), "new contents");
  struct stat st = Lstat("dest");
  EXPECT_NE(st.st_ino, old_inode);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "the old file's permissions";
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);

  Write("readonly", "ro", 0444);
  ASSERT_TRUE(Copy("readonly", "created")) << error_;
  EXPECT_EQ(Read("created"), "ro");
  EXPECT_EQ(Lstat("created").st_mode & 07777, 0444u);
  EXPECT_EQ(Names(""),
            (std::vector<std::string>{"created", "dest", "new", "readonly"}));
}

TEST_P(CopyHostFileTest, ReplacesSymlinkNotItsTarget) {
  Write("new", "new");
  Write("target", "target");
  ASSERT_EQ(symlink("target", Path("dest").c_str()), 0);
  ASSERT_TRUE(Copy("new", "dest")) << error_;
  EXPECT_TRUE(S_ISREG(Lstat("dest").st_mode));
  EXPECT_EQ(Read("dest"), "new");
  EXPECT_EQ(Read("target"), "target");
}

// A replaced file keeps what it was but its data and time: by a new file
// carrying its permission bits where it has one name, else written in place.
TEST_P(CopyHostFileTest, ReplacedFileKeepsWhatItWas) {
  struct Case {
    const char* what;
    mode_t old_mode;
    bool second_name;
    mode_t source_mode;
    const char* old_data;
    mode_t want_mode;
    bool want_in_place;
  };
  const Case cases[] = {
      {"0755 stays 0755", 0755, false, 0644, "old", 0755, false},
      {"0600 stays 0600", 0600, false, 0644, "old", 0600, false},
      {"read-only source", 0664, false, 0444, "old", 0444, false},
      {"second name", 0640, true, 0644, "old", 0640, true},
      {"second name, longer old data", 0644, true, 0644,
       "old data, longer than the new", 0644, true},
      {"second name, read-only source", 0664, true, 0444, "old", 0444, true},
  };
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("new", "new data", c.source_mode);
    ASSERT_EQ(utimensat(AT_FDCWD, Path("new").c_str(), times, 0), 0);
    Write("dest", c.old_data, c.old_mode);
    if (c.second_name) {
      ASSERT_EQ(link(Path("dest").c_str(), Path("other").c_str()), 0);
    }
    ino_t old_inode = Lstat("dest").st_ino;

    ASSERT_TRUE(Copy("new", "dest")) << error_;
    struct stat st = Lstat("dest");
    EXPECT_EQ(Read("dest"), "new data");
    EXPECT_EQ(st.st_mode & 07777, c.want_mode);
    EXPECT_EQ(st.st_ino == old_inode, c.want_in_place);
    EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
    if (c.second_name) {
      EXPECT_EQ(Read("other"), "new data");
      EXPECT_EQ(st.st_nlink, 2u);
      unlink(Path("other").c_str());
    }
    unlink(Path("new").c_str());
    unlink(Path("dest").c_str());
    EXPECT_EQ(Names(""), std::vector<std::string>{});
  }
}

TEST_P(CopyHostFileTest, RootGivesTheNewFileTheOldOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give files away";
  Write("new", "new");
  Write("dest", "old", 0640);
  ASSERT_EQ(chown(Path("dest").c_str(), 65534, 4242), 0);
  ino_t old_inode = Lstat("dest").st_ino;
  ASSERT_TRUE(Copy("new", "dest")) << error_;
  struct stat st = Lstat("dest");
  EXPECT_EQ(Read("dest"), "new");
  EXPECT_NE(st.st_ino, old_inode);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 4242u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A new file in a folder of another user is that user's, in the
  // folder's group; in root's own folder it stays root's.
  MakeDir("player");
  ASSERT_EQ(chown(Path("player").c_str(), 65534, 4243), 0);
  const std::pair<const char*, uid_t> news[] = {{"player/created", 65534},
                                                {"created", 0}};
  for (const auto& [name, uid] : news) {
    PreparedCopy copy;
    ASSERT_TRUE(copy.Open(Path("new"), Path(name), true, &error_)) << error_;
    ASSERT_TRUE(copy.Finish(&error_)) << error_;
    EXPECT_EQ(copy.gave_dir_owner(), uid != 0) << name;
    EXPECT_EQ(Lstat(name).st_uid, uid) << name;
    EXPECT_EQ(Lstat(name).st_gid, uid != 0 ? 4243u : 0u) << name;
  }
}

TEST_P(CopyHostFileTest, RefusalsLeaveDestinationAsItWas) {
  Write("new", "new");
  Write("readonly", "old", 0444);
  MakeDir("dir");

  EXPECT_FALSE(Copy("new", "readonly"));
  EXPECT_EQ(error_, "open(" + Path("readonly") + "): " + Strerror(EACCES));
  EXPECT_EQ(Read("readonly"), "old");
  EXPECT_EQ(Lstat("readonly").st_mode & 07777, 0444u);

  EXPECT_FALSE(Copy("new", "dir"));
  EXPECT_EQ(error_, "open(" + Path("dir") + "): " + Strerror(EISDIR));
  EXPECT_TRUE(S_ISDIR(Lstat("dir").st_mode));

  EXPECT_FALSE(Copy("new", "missing/dest"));
  EXPECT_EQ(error_, "open(" + Path("missing") + "): " + Strerror(ENOENT));

  EXPECT_FALSE(Copy("absent", "readonly"));
  EXPECT_EQ(error_, "open(" + Path("absent") + "): " + Strerror(ENOENT));

  EXPECT_FALSE(Copy("dir", "new"));
  EXPECT_EQ(error_, "read(" + Path("dir") + "): " + Strerror(EISDIR));
  EXPECT_EQ(Read("new"), "new");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"dir", "new", "readonly"}));
  EXPECT_TRUE(Names("dir").empty());
}

// A folder with a default ACL gives new files their bits from it, not from
// the umask: a copy into it still gets the bits it is to have.
TEST_P(CopyHostFileTest, DefaultAclDoesNotDecideTheBits) {
  MakeDir("acl");
  // u::rwx g::r-x o::---, as the kernel stores a default ACL.
  struct {
    uint32_t version;
    struct {
      uint16_t tag, perm;
      uint32_t id;
    } entries[3];
  } acl = {2, {{0x01, 7, ~0u}, {0x04, 5, ~0u}, {0x20, 0, ~0u}}};
  if (setxattr(Path("acl").c_str(), "system.posix_acl_default", &acl,
               sizeof acl, 0) != 0)
    GTEST_SKIP() << "no ACLs here: " << Strerror(errno);
  Write("new", "new");
  Write("acl/old", "old", 0604);
  ASSERT_TRUE(Copy("new", "acl/created")) << error_;
  ASSERT_TRUE(Copy("new", "acl/old")) << error_;
  EXPECT_EQ(Lstat("acl/created").st_mode & 07777, 0644u);
  EXPECT_EQ(Lstat("acl/old").st_mode & 07777, 0604u);
}

// Tells whether FICLONE works in the folder `dir`: a clone takes the whole
// file as it is, whatever its size was when it was opened.
bool ClonesIn(const std::string& dir) {
  int a = open(dir.c_str(), O_TMPFILE | O_RDWR, 0600);
  int b = open(dir.c_str(), O_TMPFILE | O_RDWR, 0600);
  bool clones =
      a >= 0 && b >= 0 && write(a, "x", 1) == 1 && ioctl(b, FICLONE, a) == 0;
  if (a >= 0) close(a);
  if (b >= 0) close(b);
  return clones;
}

// The copy stops at the size the source had when it was opened, and ends
// early where the data ends first: a source rewritten meanwhile, longer or
// shorter, neither hangs the copy nor fails it.
TEST_P(CopyHostFileTest, SourceThatGrowsOrShrinksWhileCopied) {
  struct Case {
    const char* what;
    const char* before;
    const char* after;
    bool in_place;
    const char* want;
  };
  const Case cases[] = {
      {"grows", "12345", "1234567890", false, "12345"},
      {"shrinks", "1234567890", "123", false, "123"},
      {"becomes empty", "12345", "", false, ""},
      {"grows, in place", "12345", "1234567890", true, "12345"},
      {"shrinks, in place", "1234567890", "123", true, "123"},
  };
  bool clones = ClonesIn(root());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("src", c.before);
    Write("dest", "old data, longer than any new one");
    if (c.in_place) {
      ASSERT_EQ(link(Path("dest").c_str(), Path("other").c_str()), 0);
    }
    PreparedCopy copy;
    ASSERT_TRUE(copy.Open(Path("src"), Path("dest"), true, &error_)) << error_;
    EXPECT_EQ(copy.in_place(), c.in_place);
    // The same file, rewritten after it was opened.
    int fd = open(Path("src").c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, c.after, strlen(c.after)),
              static_cast<ssize_t>(strlen(c.after)));
    close(fd);
    ASSERT_TRUE(copy.Finish(&error_)) << error_;
    std::string want = c.want;
    if (clones && !c.in_place) want = c.after;
    EXPECT_EQ(Read("dest"), want);
    if (c.in_place) {
      EXPECT_EQ(Read("other"), want);
    }
    unlink(Path("other").c_str());
  }
}

// Runs CopyHostFile(big, dest) in a child limited to writing 64 KiB files,
// with SIGXFSZ at `action`. Returns the child's wait status; the copy's
// error, if it returned, is in `*error`.
int CopyInLimitedChild(const std::string& big, const std::string& dest,
                       void (*action)(int), std::string* error) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const rlimit fsize = {64 * 1024, 64 * 1024}, core = {0, 0};
    setrlimit(RLIMIT_FSIZE, &fsize);
    setrlimit(RLIMIT_CORE, &core);
    signal(SIGXFSZ, action);
    std::string message;
    bool copied = CopyHostFile(big, dest, &message);
    if (write(fds[1], message.data(), message.size()) < 0) _exit(2);
    _exit(copied ? 1 : 0);
  }
  close(fds[1]);
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) error->append(buf, n);
  close(fds[0]);
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST_P(CopyHostFileTest, WriteFailureLeavesOldFileAndNoTemporary) {
  Write("big", std::string(1 << 20, 'b'));
  Write("dest", "old");
  std::string error;
  int status = CopyInLimitedChild(Path("big"), Path("dest"), SIG_IGN, &error);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not fail";
  EXPECT_NE(error.find(Strerror(EFBIG)), std::string::npos) << error;
  EXPECT_EQ(Read("dest"), "old");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"big", "dest"}));
}

TEST_P(CopyHostFileTest, InPlaceCopyWithoutRoomFailsBeforeWriting) {
  // The signal is not ignored: a write past the limit would kill the copy
  // in the middle, so none may be tried.
  Write("big", std::string(1 << 20, 'b'));
  Write("dest", "old");
  ASSERT_EQ(link(Path("dest").c_str(), Path("other").c_str()), 0);
  std::string error;
  int status = CopyInLimitedChild(Path("big"), Path("dest"), SIG_DFL, &error);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not fail";
  EXPECT_EQ(error, "write(" + Path("dest") + "): " + Strerror(EFBIG));
  EXPECT_EQ(Read("dest"), "old");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"big", "dest", "other"}));
}

class KilledCopyTest : public testing::Test, public ScratchDir {};

TEST_F(KilledCopyTest, LeavesOldFileAndNoName) {
  int probe = open(root().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "no O_TMPFILE here: " << Strerror(errno);
  close(probe);
  Write("big", std::string(1 << 20, 'b'));
  Write("dest", "old");
  std::string error;
  int status = CopyInLimitedChild(Path("big"), Path("dest"), SIG_DFL, &error);
  ASSERT_TRUE(WIFSIGNALED(status)) << status << " " << error;
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(Read("dest"), "old");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"big", "dest"}));
}

TEST(WritesInPlaceTest, OnlyWhereOtherNamesMustSeeTheData) {
  struct Case {
    const char* what;
    mode_t type;
    nlink_t links;
    bool in_place;
  };
  const Case cases[] = {
      {"one name", S_IFREG, 1, false},  {"second name", S_IFREG, 2, true},
      {"third name", S_IFREG, 3, true}, {"symbolic link", S_IFLNK, 2, false},
      {"FIFO", S_IFIFO, 2, false},
  };
  for (const Case& c : cases) {
    struct stat old = {};
    old.st_mode = c.type | 0644;
    old.st_nlink = c.links;
    EXPECT_EQ(WritesInPlace(old), c.in_place) << c.what;
  }

  ProcessIds user;
  user.uid = 1000;
  user.gid = 1000;
  struct stat dir = {};
  dir.st_mode = S_IFDIR | 0775;
  dir.st_gid = 60;
  EXPECT_EQ(NewFileGroup(dir, user), 1000u);
  dir.st_mode |= S_ISGID;
  EXPECT_EQ(NewFileGroup(dir, user), 60u);
}

// What a new file is once given the old one's owner, group and bits decides
// between a rename and a write in place: seen, as mounts that decide them
// for every file (ntfs-3g, exfat-fuse, fusefat) show them.
TEST(KeepsWhatItWasTest, OwnerGroupAndBitsAsTheOldFile) {
  struct Case {
    const char* what;
    uid_t uid;
    gid_t gid;
    mode_t mode;  // the new file's, as seen
    mode_t wanted;
    bool mode_refused;
    bool keeps;
  };
  // The old file: 1000:50 0644.
  const Case cases[] = {
      {"as the old file", 1000, 50, 0644, 0644, false, true},
      {"another owner", 0, 50, 0644, 0644, false, false},
      {"another group", 1000, 1000, 0644, 0644, false, false},
      {"bits not set", 1000, 50, 0600, 0644, false, false},
      {"read-only wanted and set", 1000, 50, 0444, 0444, false, true},
      {"read-only wanted, bits as old, refused", 1000, 50, 0644, 0444, true,
       true},
      {"bits refused, neither", 1000, 50, 0700, 0644, true, false},
  };
  struct stat old = {};
  old.st_mode = S_IFREG | 0644;
  old.st_uid = 1000;
  old.st_gid = 50;
  for (const Case& c : cases) {
    struct stat got = {};
    got.st_mode = S_IFREG | c.mode;
    got.st_uid = c.uid;
    got.st_gid = c.gid;
    EXPECT_EQ(KeepsWhatItWas(got, old, c.wanted, c.mode_refused), c.keeps)
        << c.what;
  }
  // A mount that gives every file root:root 0777: a new one is the same.
  struct stat mount = {};
  mount.st_mode = S_IFREG | 0777;
  EXPECT_TRUE(KeepsWhatItWas(mount, mount, 0777, false));
}

class LeftoversTest : public testing::Test, public ScratchDir {};

TEST_F(LeftoversTest, RemovesOurTemporariesOnly) {
  // A temporary left by a copy killed in the middle of writing it.
  Write("big", std::string(1 << 20, 'b'));
  MakeDir("game");
  Write("game/dest", "old");
  SetUnnamedTemporariesForTesting(false);
  std::string error;
  int status =
      CopyInLimitedChild(Path("big"), Path("game/dest"), SIG_DFL, &error);
  SetUnnamedTemporariesForTesting(true);
  ASSERT_TRUE(WIFSIGNALED(status)) << status << " " << error;
  std::vector<std::string> names = Names("game");
  ASSERT_EQ(names.size(), 2u);
  std::string left = names[0];
  EXPECT_TRUE(IsTemporaryName(left)) << left;

  Write("game/.dest.patcher-Ab12Cd", "also ours");
  Write("game/.dest.Ab12Cd", "not ours");
  Write("game/dest.patcher-Ab12Cd", "not ours");
  MakeDir("game/.dir.patcher-Ab12Cd");
  std::vector<std::string> notes;
  ScopedFd dir(open(Path("game").c_str(), O_RDONLY | O_DIRECTORY));
  RemoveLeftovers(dir.get(), Path("game"), &notes);
  std::sort(notes.begin(), notes.end());
  std::vector<std::string> want = {
      "removed " + Path("game/" + left) + ", left by an interrupted run",
      "removed " + Path("game/.dest.patcher-Ab12Cd") +
          ", left by an interrupted run"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(notes, want);
  EXPECT_EQ(Names("game"),
            (std::vector<std::string>{".dest.Ab12Cd", ".dir.patcher-Ab12Cd",
                                      "dest", "dest.patcher-Ab12Cd"}));
  EXPECT_EQ(Read("game/dest"), "old");
}

}  // namespace
}  // namespace patcher
