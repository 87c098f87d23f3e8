// Tests of finding programs on PATH and feeding pipes.

#include "posix/subprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

class FindProgramTest : public ::testing::Test, public ScratchDir {};

TEST_F(FindProgramTest, FirstExecutableFileInAnAbsoluteFolder) {
  MakeDir("a");
  MakeDir("b");
  MakeDir("a/zenity");          // a folder is no program
  Write("b/zenity", "", 0644);  // not executable
  std::string path = Path("a") + ":" + Path("b");
  EXPECT_EQ("", FindProgram("zenity", path.c_str()));
  Write("b/zenity", "", 0755);  // replaces the file above
  std::string found = Path("b/zenity");
  EXPECT_EQ(found, FindProgram("zenity", path.c_str()));
  EXPECT_EQ(found, FindProgram("zenity", ("::" + path + ":").c_str()));
  EXPECT_EQ("", FindProgram("zenity", nullptr));
  // Relative entries would find programs shipped in the patch's folder.
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
  ASSERT_EQ(0, chdir(root().c_str()));
  std::string relative = FindProgram("zenity", "b:./b");
  ASSERT_EQ(0, chdir(cwd));
  EXPECT_EQ("", relative);
}

bool SigpipeBlocked() {
  sigset_t mask;
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE);
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

TEST(FeedPipeTest, WritesAllOrNothingAndSurvivesAReaderThatIsGone) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  ASSERT_EQ(0, fcntl(fds[1], F_SETFL, O_NONBLOCK));
  ASSERT_EQ(0, fcntl(fds[0], F_SETFL, O_NONBLOCK));
  ASSERT_EQ(4096, fcntl(fds[1], F_SETPIPE_SZ, 4096));
  std::string line(3000, 'x');
  EXPECT_EQ(FeedResult::kWritten, FeedPipe(fds[1], line));
  EXPECT_EQ(FeedResult::kFull, FeedPipe(fds[1], line));  // 1096 bytes left
  EXPECT_EQ(line, ReadAll(fds[0]));                      // no part of it
  EXPECT_FALSE(SigpipeBlocked());

  close(fds[0]);
  // SIGPIPE's default action would end this test program here.
  EXPECT_EQ(FeedResult::kClosed, FeedPipe(fds[1], "10\n"));
  EXPECT_FALSE(SigpipeBlocked());
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  close(fds[1]);
}

/// Runs `body` in a child process. Returns its wait status.
template <typename Body>
int InChild(Body body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST(FeedPipeTest, LeavesSigpipeAsItFoundItForOtherWrites) {
  // Afterwards a write to a closed pipe (standard output, say) still ends
  // the program as it did before.
  int status = InChild([] {
    signal(SIGPIPE, SIG_DFL);
    int fds[2];
    if (pipe(fds) != 0) return 2;
    close(fds[0]);
    if (FeedPipe(fds[1], "x\n") != FeedResult::kClosed) return 3;
    ssize_t n = write(fds[1], "x", 1);
    (void)n;
    return 4;  // not reached: SIGPIPE ends it
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGPIPE, WTERMSIG(status));

  // A SIGPIPE that was pending before is not taken.
  status = InChild([] {
    sigset_t sigpipe, pending;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    sigprocmask(SIG_BLOCK, &sigpipe, nullptr);
    raise(SIGPIPE);
    int fds[2];
    if (pipe(fds) != 0) return 2;
    close(fds[0]);
    if (FeedPipe(fds[1], "x\n") != FeedResult::kClosed) return 3;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) ? 0 : 5;
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
}  // namespace patcher
