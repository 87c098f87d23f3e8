// Tests of the stop signals: held while a file is replaced, then the line
// that says how far the run came, and the end by the signal itself.

#include "posix/stop_signals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

TEST(StopSignalsTest, HeldUntilReleasedThenTheProgramEndsByIt) {
  const struct {
    int signal;
    bool held;
    size_t done, total;
    const char* line;
  } cases[] = {
      {SIGINT, true, 12, 40,
       "patcher: stopped by SIGINT after 12 of 40 files; run the patch "
       "again to finish it\n"},
      {SIGTERM, false, 0, 3,
       "patcher: stopped by SIGTERM after 0 of 3 files; run the patch again "
       "to finish it\n"},
      {SIGHUP, true, 3, 3, ""},  // every file done: nothing to say
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDERR_FILENO);
      CatchStopSignals();
      SetStopProgress(c.done, c.total);
      if (c.held) HoldStops();
      raise(c.signal);
      // Still here while held: the file being replaced is finished.
      (void)!write(STDERR_FILENO, "[whole]", 7);
      ReleaseStops();
      _exit(0);
    }
    close(fds[1]);
    std::string err;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
      err.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), c.signal);
    EXPECT_EQ(err, (c.held ? "[whole]" : "") + std::string(c.line));
  }
}

}  // namespace
}  // namespace patcher
