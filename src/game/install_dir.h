// Where the game is installed, as the registry tells it: the game's product
// keys first, then the application path of its executable. The pre-flight
// check asks it, and so does the Linux build of each prefix it looks at.

#ifndef PATCHER_GAME_INSTALL_DIR_H_
#define PATCHER_GAME_INSTALL_DIR_H_

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace patcher {

/// Opens `subkey` under HKEY_LOCAL_MACHINE for reading, as
/// Platform::OpenKey does. Returns null when it cannot be opened.
using KeyOpener =
    std::function<std::unique_ptr<RegistryKey>(const char* subkey)>;

/// Looks the game's installation directory up in the registry that
/// `open_key` opens, as the pre-flight check does once the list's header is
/// read: the first of
/// the game's product keys that opens must hold a REG_SZ "Install Dir"; only
/// when none opens does the application-path key of `exe_name` serve, with
/// its "Path" of any type. Returns true with `install_dir` (of
/// `install_dir_capacity` bytes) holding the directory as the registry stores
/// it; false when it cannot be found, `install_dir` then unspecified. Reads
/// the registry only; shows and writes nothing.
bool find_install_dir(const KeyOpener& open_key, const char* exe_name,
                      char* install_dir, size_t install_dir_capacity);

}  // namespace patcher

#endif  // PATCHER_GAME_INSTALL_DIR_H_
