// Names of the Windows build's temporaries and of the paths around them:
// `.<name>.patcher-XXXXXX` beside the destination, as the Linux build names
// its own, so that either build knows what the other left behind. Pure text,
// built and tested on every host.

#ifndef PATCHER_PLATFORM_WIN32_TEMPORARY_H_
#define PATCHER_PLATFORM_WIN32_TEMPORARY_H_

#include <cstdint>
#include <string>

namespace patcher {

/// Splits the Windows path `path` at its last separator (`\` or `/`):
/// `*folder` gets what comes before it, separator included, and `*name` the
/// rest. A path without a separator has the folder "" (the working
/// directory), or "C:" when it starts with a drive letter.
void SplitWindowsPath(const std::string& path, std::string* folder,
                      std::string* name);

/// Returns the name of a temporary for a file named `name`:
/// `.<name>.patcher-` and six letters or digits drawn from `random`.
std::string WindowsTemporaryName(const std::string& name, uint64_t random);

/// Tells whether `name` is one that WindowsTemporaryName (or the Linux
/// build) gives a temporary: `.`, a name, `.patcher-`, six letters or
/// digits.
bool IsWindowsTemporaryName(const std::string& name);

/// Returns the name of the lock of the folder with the volume serial number
/// `volume` and the file index `index`, as CreateMutexA takes it: one name
/// per folder whatever path reaches it, within the session.
std::string FolderLockName(uint32_t volume, uint64_t index);

}  // namespace patcher

#endif  // PATCHER_PLATFORM_WIN32_TEMPORARY_H_
