// Names the Windows build makes of its paths and folders: a path split into
// its folder and name, and the name of a folder's lock. Pure text, built and
// tested on every host.

#ifndef PATCHER_PLATFORM_WIN32_NAMES_H_
#define PATCHER_PLATFORM_WIN32_NAMES_H_

#include <cstdint>
#include <string>

namespace patcher {

/// Splits the Windows path `path` at its last separator (`\` or `/`):
/// `*folder` gets what comes before it, separator included, and `*name` the
/// rest. A path without a separator has the folder "" (the working
/// directory), or "C:" when it starts with a drive letter.
void SplitWindowsPath(const std::string& path, std::string* folder,
                      std::string* name);

/// Returns the name of the lock of the folder with the volume serial number
/// `volume` and the file index `index`, as CreateMutexA takes it: one name
/// per folder whatever path reaches it, within the session.
std::string FolderLockName(uint32_t volume, uint64_t index);

}  // namespace patcher

#endif  // PATCHER_PLATFORM_WIN32_NAMES_H_
