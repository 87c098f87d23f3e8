// Tests of the folder lock: one holder at a time, the next one waits.

#include "posix/folder_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

class FolderLockTest : public testing::Test, public ScratchDir {};

TEST_F(FolderLockTest, SecondHolderWaitsForTheFirst) {
  MakeDir("game");
  // Another process holds the lock until told to let go: this one is told
  // it waits, once, and holds the lock once the other has gone.
  int held[2], go[2];
  ASSERT_EQ(pipe(held), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t pid = fork();
  if (pid == 0) {
    FolderLock first;
    std::string child_error;
    char c = first.Take(
                 Path("game"), [] {}, &child_error) == FolderLock::kHeld
                 ? 'h'
                 : 'r';
    (void)!write(held[1], &c, 1);
    (void)!read(go[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(held[0], &c, 1), 1);
  ASSERT_EQ(c, 'h');
  int waits = 0;
  std::string error;
  FolderLock second;
  EXPECT_EQ(second.Take(
                Path("game"),
                [&] {
                  ++waits;
                  (void)!write(go[1], "g", 1);
                },
                &error),
            FolderLock::kHeld)
      << error;
  EXPECT_EQ(waits, 1);
  for (int fd : {held[0], held[1], go[0], go[1]}) close(fd);
  int status = 0;
  waitpid(pid, &status, 0);

  FolderLock missing;
  EXPECT_EQ(missing.Take(
                Path("nowhere"), [] {}, &error),
            FolderLock::kRefused);
  EXPECT_EQ(error.rfind("open(" + Path("nowhere") + "): ", 0), 0u) << error;
}

}  // namespace
}  // namespace patcher
