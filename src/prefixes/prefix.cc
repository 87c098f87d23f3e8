// Which Wine prefix is named by the environment.

#include "prefixes/prefix.h"

#include <string>

namespace patcher {

std::string FindWinePrefix(const char* wineprefix, const char* steam_compat,
                           const char* home) {
  if (wineprefix && *wineprefix) return wineprefix;
  if (steam_compat && *steam_compat) return std::string(steam_compat) + "/pfx";
  if (home && *home) return std::string(home) + "/.wine";
  return std::string();
}

}  // namespace patcher
