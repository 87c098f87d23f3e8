// A file descriptor that closes itself.

#ifndef PATCHER_POSIX_SCOPED_FD_H_
#define PATCHER_POSIX_SCOPED_FD_H_

#include <unistd.h>

namespace patcher {

/// Owns a file descriptor (or none, -1) and closes it when destroyed.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  /// Closes the descriptor held, if any, and takes `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  /// Gives up the descriptor without closing it. Returns it (-1 for none).
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  /// Closes the descriptor now. Returns what close() returned.
  int Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd);
  }

 private:
  int fd_;
};

}  // namespace patcher

#endif  // PATCHER_POSIX_SCOPED_FD_H_
