// Windows paths taken apart by Windows' rules, as text: no disk is read.

#ifndef PATCHER_WINE_WINDOWS_PATH_H_
#define PATCHER_WINE_WINDOWS_PATH_H_

#include <string>
#include <vector>

namespace patcher {

/// A Windows path taken apart the way Windows reads it.
struct WindowsPath {
  /// The drive letter in upper case, or 0 when the path names no drive.
  char drive = 0;
  /// Whether the path starts at a root (`C:\x`, `\x`) rather than at the
  /// working directory (`data\x`) or at the drive's current directory
  /// (`C:x`).
  bool rooted = false;
  /// Whether the path ends in a separator (`data\`): it then names a
  /// directory and can never name a file.
  bool trailing_separator = false;
  /// The names from the root or the working directory on, with `.` and `..`
  /// resolved. A path that is not rooted keeps the leading `..` that climb
  /// above its start; a rooted one drops those that climb above the root.
  std::vector<std::string> components;
};

/// Parses `path` into `*out`. Both `\` and `/` separate names and repeated
/// separators count as one. Once `.` and `..` are resolved, trailing dots
/// and blanks of the last name are dropped (`x.mix.` and `x.mix\.` name
/// `x.mix`) unless the path ends in a separator; a last name made only of
/// them leaves the path naming its directory, as `trailing_separator`.
/// Returns false for a path that names no file on a drive: an empty one, a
/// bare drive (`C:`), a network (`\\server\share`) or device (`\\?\`,
/// `\\.\`) path, a drive that is not a letter, or a name holding a
/// character Windows forbids in names (`<>:"|?*` and control characters).
bool ParseWindowsPath(const std::string& path, WindowsPath* out);

}  // namespace patcher

#endif  // PATCHER_WINE_WINDOWS_PATH_H_
