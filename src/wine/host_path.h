// Windows paths mapped onto the disk of a Wine prefix the way Wine resolves
// them: drives through the prefix's dosdevices, each name matched exactly or
// else ignoring case, with the directory listings that takes kept in a cache.

#ifndef PATCHER_WINE_HOST_PATH_H_
#define PATCHER_WINE_HOST_PATH_H_

#include <string>

namespace patcher {

/// Maps the Windows path `windows_path` to a path on this host, as Wine would
/// resolve it in the prefix at `prefix`, into `*host_path`. A drive `X:` is
/// `<prefix>/dosdevices/x:` (Wine's symbolic link for the drive); a relative
/// path starts at the working directory; a rooted path without a drive
/// (`\tmp`) starts at `/`. Each name is then looked up on disk: the exact
/// name if it exists, else a name in that directory equal but for ASCII case.
/// A name with no match keeps its spelling, and so do all names after it. A
/// path ending in a separator maps to a host path ending in `/`, which names
/// a directory only. Returns false when the path cannot be mapped (see
/// ParseWindowsPath, or a drive without a prefix); the caller then treats it
/// as a missing file.
///
/// Listings of directories are cached while their modification time stays
/// the same; NoteCreated keeps them up to date for the files this process
/// makes.
bool MapToHost(const std::string& prefix, const std::string& windows_path,
               std::string* host_path);

/// Records that this process has just created `name` in the directory `dir`,
/// so that a cached listing of `dir` knows it.
void NoteCreated(const std::string& dir, const std::string& name);

/// Returns `dir` and `name` joined by one `/`.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace patcher

#endif  // PATCHER_WINE_HOST_PATH_H_
