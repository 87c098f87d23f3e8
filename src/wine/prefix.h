// Which Wine prefix the Linux build patches.

#ifndef PATCHER_WINE_PREFIX_H_
#define PATCHER_WINE_PREFIX_H_

#include <string>

namespace patcher {

/// Returns the Wine prefix to patch, given the environment: $WINEPREFIX when
/// set and not empty, else Proton's $STEAM_COMPAT_DATA_PATH/pfx, else
/// ~/.wine. Returns the empty text when none can be named.
std::string FindWinePrefix(const char* wineprefix, const char* steam_compat,
                           const char* home);

/// Returns the home folder of user `uid` as `passwd`, the text of
/// /etc/passwd, gives it (the sixth field of the first line whose third field
/// is `uid`; lines starting with "#" are comments). Returns the empty text when
/// no line names `uid`.
std::string HomeFromPasswd(const std::string& passwd, unsigned long uid);

}  // namespace patcher

#endif  // PATCHER_WINE_PREFIX_H_
