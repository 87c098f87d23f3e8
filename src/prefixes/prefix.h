// Which Wine prefix the Linux build patches.

#ifndef PATCHER_PREFIXES_PREFIX_H_
#define PATCHER_PREFIXES_PREFIX_H_

#include <string>

namespace patcher {

/// Returns the Wine prefix to patch, given the environment: $WINEPREFIX when
/// set and not empty, else Proton's $STEAM_COMPAT_DATA_PATH/pfx, else
/// ~/.wine. Returns the empty text when none can be named.
std::string FindWinePrefix(const char* wineprefix, const char* steam_compat,
                           const char* home);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_PREFIX_H_
