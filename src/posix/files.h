// Small file-system helpers of the Linux build: paths joined and taken
// apart, a directory's names read, a small file read whole, the umask.

#ifndef PATCHER_POSIX_FILES_H_
#define PATCHER_POSIX_FILES_H_

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

namespace patcher {

/// Returns `dir` and `name` joined by one `/`.
std::string JoinPath(const std::string& dir, const std::string& name);

/// Returns the directory that holds the last name of `path`: `.` when it
/// has no `/`, `/` for a name at the root.
std::string ParentPath(const std::string& path);

/// Reads the names in the directory open as `fd`, from where its offset
/// is, and calls `add` with each but `.` and `..` and with the type of its
/// entry (DT_REG, DT_DIR, ..., DT_UNKNOWN when the file system does not
/// tell). Returns false with errno set when it cannot be read; the names
/// read so far have been given to `add`.
bool ReadDirectory(int fd,
                   const std::function<void(const char*, unsigned char)>& add);

/// Reads the first `limit` bytes (or fewer) of the regular file `host_path`
/// into `*text`, as for a small configuration file: opened without waiting
/// (a FIFO in its place is refused, not waited on). Returns false when it
/// cannot be opened or read or is not a regular file.
bool ReadSmallHostFile(const std::string& host_path, size_t limit,
                       std::string* text);

/// Returns the process's umask, read once, without changing it.
mode_t ProcessUmask();

}  // namespace patcher

#endif  // PATCHER_POSIX_FILES_H_
