// A folder locked with flock.

#include "posix/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <string>

#include "posix/unix_error.h"

namespace patcher {

FolderLock::Result FolderLock::Take(const std::string& path,
                                    const std::function<void()>& on_wait,
                                    std::string* error) {
  fd_.reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd_.get() < 0) {
    Fail("open", path, errno, error);
    return kRefused;
  }
  if (flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return kHeld;
  if (errno == EWOULDBLOCK) {
    on_wait();
    int result;
    do {
      result = flock(fd_.get(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return kHeld;
  }
  Fail("flock", path, errno, error);
  fd_.reset();
  return kRefused;
}

}  // namespace patcher
