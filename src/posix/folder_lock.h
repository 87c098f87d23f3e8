// A lock on a folder that one process at a time holds (flock on the folder's
// descriptor), so that two runs do not patch one game folder at once.

#ifndef PATCHER_POSIX_FOLDER_LOCK_H_
#define PATCHER_POSIX_FOLDER_LOCK_H_

#include <functional>
#include <string>

#include "posix/scoped_fd.h"

namespace patcher {

/// An exclusive lock on a folder, held until it is destroyed (or the process
/// ends). Other processes taking it wait; the descriptor is not inherited by
/// programs started meanwhile.
class FolderLock {
 public:
  enum Result { kHeld, kRefused };

  /// Takes the lock on the folder `path`. When another process holds it,
  /// calls `on_wait` once and waits for it. Returns kHeld, or kRefused when
  /// the folder cannot be opened or its file system refuses the lock (a
  /// network file system: ENOLCK); `*error` then names the call.
  Result Take(const std::string& path, const std::function<void()>& on_wait,
              std::string* error);

 private:
  ScopedFd fd_;
};

}  // namespace patcher

#endif  // PATCHER_POSIX_FOLDER_LOCK_H_
