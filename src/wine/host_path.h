// Windows paths mapped onto the disk of a Wine prefix the way Wine resolves
// them: drives through the prefix's dosdevices, each name matched exactly or
// else ignoring case, with the directory listings that takes kept in a cache.

#ifndef PATCHER_WINE_HOST_PATH_H_
#define PATCHER_WINE_HOST_PATH_H_

#include <string>

#include "text/ansi_text.h"

namespace patcher {

/// Maps the Windows path `windows_path`, in the ANSI code page of `text`,
/// to a path on this host, as Wine would resolve it in the prefix at
/// `prefix`, into `*host_path`. The whole path is turned into Unicode before
/// it is taken apart (a double-byte character may end in 0x5C) and its names
/// are UTF-8 on the host. A drive `X:` is `<prefix>/dosdevices/x:` (Wine's
/// symbolic link for the drive); a relative path starts at the working
/// directory, and `..` climbs no higher than the root of the drive on which
/// Wine sees it; a rooted path without a drive (`\tmp`) starts at that
/// drive's root; `C:x` starts at the working directory when Wine sees it on
/// C:, else at C:'s root. Each name is then looked up on disk: the exact
/// name if it exists, else the first name in that directory that matches it
/// as Windows matches names ignoring case (see AnsiText::NameKey). A name
/// with no match keeps its spelling, and so do all names after it. A path
/// ending in a separator maps to a host path ending in `/`, which names a
/// directory only. Returns false when the path cannot be mapped (see
/// ParseWindowsPath; longer than MAX_PATH; a drive while there is no
/// prefix; rooted while Wine sees the working directory on no drive); the
/// caller then treats it as a missing file, as it does a path on a drive
/// that the prefix lacks.
///
/// Listings of directories are cached while their modification time stays
/// the same; NoteCreated keeps them up to date for the files this process
/// makes.
bool MapToHost(const std::string& prefix, AnsiText* text,
               const std::string& windows_path, std::string* host_path);

/// Records that this process has just created `name` in the directory `dir`,
/// so that a cached listing of `dir` knows it.
void NoteCreated(const std::string& dir, const std::string& name);

/// Returns `dir` and `name` joined by one `/`.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace patcher

#endif  // PATCHER_WINE_HOST_PATH_H_
