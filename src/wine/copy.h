// Copying one file into a Wine prefix as CopyFileA(source, dest, FALSE)
// does, crash-safely: the data goes to a new file beside the destination,
// reaches the disk, and only then is renamed over the destination.

#ifndef PATCHER_WINE_COPY_H_
#define PATCHER_WINE_COPY_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "wine/scoped_fd.h"

namespace patcher {

/// Copies the file `source` to `dest` as CopyFileA(source, dest, FALSE)
/// does, replacing `dest` atomically: the data goes to a new file in the
/// directory of `dest`, which is then renamed over `dest`. The new file has
/// the source's modification time and the default permissions, without
/// write permission when the source has none. A symbolic link at `dest` is
/// replaced, not written through. Fails when the directory of `dest` does
/// not exist, when `dest` is a directory, or when `dest` is a regular file
/// no one may write (refused even for root, as Windows refuses it). Returns
/// true on success. On failure returns false, sets `*error` to a text such
/// as `open(/x/y): Permission denied`, leaves `dest` as it was and leaves no
/// temporary file behind, even when the process is killed while copying
/// (except on file systems without O_TMPFILE, or without /proc mounted).
bool CopyHostFile(const std::string& source, const std::string& dest,
                  std::string* error);

/// Refuses a destination that Windows would not open for writing: a
/// directory, or a regular file no one may write. Returns true when `dest`
/// may be replaced (or does not exist); false with `*error` set otherwise.
bool CheckDest(const std::string& dest, std::string* error);

/// One copy of CopyHostFile taken step by step, so that its data can be
/// written early and flushed together with other copies (HostCopier):
/// Open(), Write(), Sync() or a flush of the whole file system, Commit().
/// Until Commit() the new file is unseen: it has no name where the file
/// system allows (O_TMPFILE) and /proc is there to name it by, else a
/// hidden temporary name that is removed when the copy is destroyed
/// uncommitted.
class PreparedCopy {
 public:
  PreparedCopy() = default;
  ~PreparedCopy();
  PreparedCopy(const PreparedCopy&) = delete;
  PreparedCopy& operator=(const PreparedCopy&) = delete;

  /// Opens `source` and the directory of `dest`, after the checks that
  /// Windows makes when it opens them (CheckDest only with `check_dest`).
  /// Returns false with `*error` set when the copy cannot be made.
  bool Open(const std::string& source, const std::string& dest, bool check_dest,
            std::string* error);

  /// Makes the new file with the source's data, permissions and time, and
  /// closes the source. With `named_fallback` false, fails rather than give
  /// the file a name where the file system has no unnamed files. Returns
  /// false with `*error` set on failure.
  bool Write(bool named_fallback, std::string* error);

  /// Puts the new file's data on disk. Returns false with `*error` set.
  bool Sync(std::string* error);

  /// Tells whether `source` and the destination's directory are still the
  /// files that were opened, unchanged as far as their inodes tell.
  bool IsCurrent(const std::string& source) const;

  /// Renames the new file over the destination. Returns false with `*error`
  /// set, the destination as it was.
  bool Commit(std::string* error);

  const struct stat& source_stat() const { return source_st_; }
  const struct stat& dir_stat() const { return dir_st_; }
  const std::string& dir() const { return dir_; }
  int dir_fd() const { return dir_fd_.get(); }
  int fd() const { return out_.get(); }
  /// Names the new file in messages.
  const std::string& label() const { return label_; }

 private:
  bool Create(bool named_fallback, std::string* error);
  bool CopyData(std::string* error);

  std::string source_;
  std::string dest_;
  std::string dir_;   // of dest_
  std::string name_;  // the last name of dest_
  ScopedFd in_;
  ScopedFd dir_fd_;
  ScopedFd out_;
  struct stat source_st_ = {};
  struct stat dir_st_ = {};
  std::string label_;
  std::string temp_name_;  // while the new file has a name of its own
};

/// Makes copies use a named temporary, as they do on file systems without
/// O_TMPFILE, when `enabled` is false. For tests.
void SetUnnamedTemporariesForTesting(bool enabled);

}  // namespace patcher

#endif  // PATCHER_WINE_COPY_H_
