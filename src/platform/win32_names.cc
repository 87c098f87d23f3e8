// Names of the Windows build's paths and locks (see win32_names.h).

#include "platform/win32_names.h"

#include <cstdio>
#include <string>

namespace patcher {

void SplitWindowsPath(const std::string& path, std::string* folder,
                      std::string* name) {
  size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) {
    // "C:name" is relative to drive C's current directory.
    cut = path.size() >= 2 && path[1] == ':' ? 1 : std::string::npos;
  }
  size_t start = cut == std::string::npos ? 0 : cut + 1;
  *folder = path.substr(0, start);
  *name = path.substr(start);
}

std::string FolderLockName(uint32_t volume, uint64_t index) {
  char name[64];
  snprintf(name, sizeof name, "Local\\patcher-folder-%08x-%016llx",
           static_cast<unsigned>(volume),
           static_cast<unsigned long long>(index));
  return name;
}

}  // namespace patcher
