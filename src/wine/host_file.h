// Files in a Wine prefix as a Windows program sees them through Wine: their
// attributes, read from and written to the permission bits as Wine does it,
// and opening them for reading; and reading small files around it whole.

#ifndef PATCHER_WINE_HOST_FILE_H_
#define PATCHER_WINE_HOST_FILE_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace patcher {

/// Returns the attribute bits Wine shows for `host_path`, which is not
/// followed if it is a symbolic link: kAttributeDirectory for a directory,
/// kAttributeArchive for anything else, plus kAttributeReadOnly when no one
/// may write it (never for a symbolic link) and kAttributeHidden when its
/// name starts with a dot. Returns kInvalidAttributes when it does not exist.
uint32_t HostAttributes(const std::string& host_path);

/// Returns the attribute bits that HostAttributes gives `host_path` when its
/// lstat is `st`.
uint32_t AttributesOf(const std::string& host_path, const struct stat& st);

/// Sets the read-only bit of the regular file `host_path` as Wine does:
/// setting it takes away every write permission; clearing it from a file no
/// one may write gives write permission to the owner and to those who may
/// read it, within the umask. Other bits, directories and symbolic links
/// (never followed) are left as they are. Returns false and sets `*error`
/// when the file cannot be examined or changed.
bool SetHostAttributes(const std::string& host_path, uint32_t attributes,
                       std::string* error);

/// Opens `host_path` for reading. Returns null when it cannot be opened or
/// is a directory, with `*error` (when not null) naming the call, the path
/// and the reason. `regular`: the caller has just seen that `host_path`
/// names a regular file (in its directory's listing), and it is not
/// examined again.
std::unique_ptr<InputFile> OpenHostFile(const std::string& host_path,
                                        std::string* error,
                                        bool regular = false);

}  // namespace patcher

#endif  // PATCHER_WINE_HOST_FILE_H_
