// The game's installation directory as the registry gives it.

#include "game/install_dir.h"

#include <cstdio>
#include <cstring>
#include <memory>

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

bool find_install_dir(const KeyOpener& open_key, const char* exe_name,
                      char* install_dir, size_t install_dir_capacity) {
  std::unique_ptr<RegistryKey> key;
  for (const char* name : kProductKeys) {
    key = open_key(name);
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
  key = open_key(key_name);
  if (!key) return false;
  uint32_t size = static_cast<uint32_t>(install_dir_capacity);
  return key->Query("Path", nullptr, install_dir, &size) == kRegOk &&
         terminate_value(install_dir, size, install_dir_capacity);
}

}  // namespace patcher
