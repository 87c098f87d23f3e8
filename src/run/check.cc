#include "run/check.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "list/patch_list.h"

namespace patcher {

namespace {

/// The game's own keys, tried in this order; the first that opens decides.
const char* const kProductKeys[] = {
    "Software\\Quelvar\\Torvane",
    "Software\\Quelvar\\Torvane 2000",
    "Software\\Quelvar\\Torvane Gravine",
};

const char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

/// Capacity of the "Install Dir" value, its terminator included.
constexpr size_t kInstallDirValueCapacity = 500;

/// Makes the `size` bytes that a registry query put into `buf` (of
/// `capacity` bytes) a terminated text. Data stored without a terminator
/// ends where the data ends. Returns false when there is no room left for
/// the terminator: such a value does not fit.
bool terminate_value(char* buf, uint32_t size, size_t capacity) {
  if (memchr(buf, '\0', size)) return true;
  if (size >= capacity) return false;
  buf[size] = '\0';
  return true;
}

}  // namespace

bool find_install_dir(Platform* platform, const char* exe_name,
                      char* install_dir, size_t install_dir_capacity) {
  std::unique_ptr<RegistryKey> key;
  for (const char* name : kProductKeys) {
    key = platform->OpenKey(name);
    if (key) break;
  }
  if (key) {
    char value[kInstallDirValueCapacity];
    uint32_t size = sizeof value;
    uint32_t type = 0;
    if (key->Query("Install Dir", &type, value, &size) != kRegOk ||
        type != kRegSz || !terminate_value(value, size, sizeof value) ||
        strlen(value) >= install_dir_capacity)
      return false;
    strcpy(install_dir, value);
    return true;
  }

  // Opened for reading only: the key is never written, and users who may
  // read it are often refused full access to it.
  char key_name[2 * kLineCapacity];
  snprintf(key_name, sizeof key_name, "%s%s", kAppPathsKey, exe_name);
  key = platform->OpenKey(key_name);
  if (!key) return false;
  uint32_t size = static_cast<uint32_t>(install_dir_capacity);
  return key->Query("Path", nullptr, install_dir, &size) == kRegOk &&
         terminate_value(install_dir, size, install_dir_capacity);
}

int check_patch(Platform* platform, char* message, size_t message_capacity,
                char* install_dir, size_t install_dir_capacity,
                std::vector<std::string>* missing) {
  std::unique_ptr<InputFile> file = platform->OpenForReading(kListName, nullptr);
  if (!file) return CHECK_MISSING_FILES;
  ListReader list(std::move(file));

  // The header comes before any registry access: the fallback lookup needs
  // the executable name.
  char exe_name[kLineCapacity];
  if (read_header(message, message_capacity, exe_name, sizeof exe_name, &list))
    return CHECK_LIST_CORRUPT;

  if (!find_install_dir(platform, exe_name, install_dir, install_dir_capacity))
    return CHECK_NO_INSTALL_DIR;

  // Every source is tried, so that all of them are opened once even when an
  // early one is missing.
  int missing_flag = 0;
  char line[kLineCapacity];
  Entry entry;
  while (next_entry(&list, line, sizeof line, &entry)) {
    std::string error;
    if (!platform->OpenForReading(entry.source, &error)) {
      missing_flag = 1;
      if (missing) missing->push_back(error);
    }
    if (entry.dest) platform->PlanCopy(entry.source);
  }
  return missing_flag ? CHECK_MISSING_FILES : CHECK_OK;
}

}  // namespace patcher
