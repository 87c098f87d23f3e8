#ifndef PATCHER_PLATFORM_PLATFORM_POSIX_H_
#define PATCHER_PLATFORM_PLATFORM_POSIX_H_

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace patcher {

/// Returns the Wine prefix to patch, given the environment: $WINEPREFIX when
/// set and not empty, else Proton's $STEAM_COMPAT_DATA_PATH/pfx, else
/// ~/.wine. Returns the empty text when none can be named.
std::string FindWinePrefix(const char* wineprefix, const char* steam_compat,
                           const char* home);

/// Shows a box on the console: its caption on a line of its own, then its
/// text as it stands, on `out`. A Yes/No box then reads one line from `in`:
/// "y" or "yes" in any case returns kAnswerYes; anything else, an empty line
/// or the end of input returns 7 (No). An OK box returns 1 at once.
int ConsoleBox(const char* text, const char* caption, BoxType type, FILE* in,
               FILE* out);

}  // namespace patcher

#endif  // PATCHER_PLATFORM_PLATFORM_POSIX_H_
