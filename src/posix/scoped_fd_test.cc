// Tests of the self-closing descriptor.

#include "posix/scoped_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace patcher {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(ScopedFdTest, MovingHandsTheDescriptorOnAndClosesItOnce) {
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<ScopedFd> held;
  {
    ScopedFd first(fd);
    held.push_back(std::move(first));
    EXPECT_EQ(-1, first.get());  // closes nothing when it goes
  }
  held.reserve(16);  // the vector moves what it holds
  EXPECT_EQ(fd, held[0].get());
  EXPECT_TRUE(IsOpen(fd));

  ScopedFd other(open("/dev/null", O_RDONLY | O_CLOEXEC));
  int other_fd = other.get();
  other = std::move(held[0]);  // closes what it held before
  EXPECT_FALSE(IsOpen(other_fd));
  EXPECT_EQ(fd, other.get());
  held.clear();
  EXPECT_TRUE(IsOpen(fd));
  other.reset();
  EXPECT_FALSE(IsOpen(fd));
}

}  // namespace
}  // namespace patcher
