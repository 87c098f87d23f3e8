#include "wine/copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"

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
  EXPECT_EQ(st.st_mode & 07777, 0644u);
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

}  // namespace
}  // namespace patcher
