// A prefix's drives read from its dosdevices folder.

#include "wine/drives.h"

#include <dirent.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <utility>

namespace patcher {

bool FindDriveOf(const std::string& prefix, const std::string& dir,
                 DrivePlace* place) {
  if (prefix.empty() || dir.empty() || dir[0] != '/') return false;
  // The folders of the drives, by device and inode: Wine compares folders,
  // not paths, so a drive reached through a symbolic link counts.
  std::string devices = prefix + "/dosdevices/";
  std::map<std::pair<dev_t, ino_t>, char> drives;
  DIR* d = opendir(devices.c_str());
  if (!d) return false;
  while (const dirent* entry = readdir(d)) {
    const char* name = entry->d_name;
    char letter = static_cast<char>(name[0] & ~0x20);
    if (letter < 'A' || letter > 'Z' || name[1] != ':' || name[2] != '\0')
      continue;
    struct stat st;
    if (stat((devices + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      continue;
    auto key = std::make_pair(st.st_dev, st.st_ino);
    auto it = drives.find(key);
    if (it == drives.end() || letter < it->second) drives[key] = letter;
  }
  closedir(d);
  if (drives.empty()) return false;

  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::vector<std::string> rest;  // in reverse
  for (;;) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      auto it = drives.find(std::make_pair(st.st_dev, st.st_ino));
      if (it != drives.end()) {
        place->drive = it->second;
        place->root = devices + static_cast<char>(it->second | 0x20) + ":";
        place->rest.assign(rest.rbegin(), rest.rend());
        return true;
      }
    }
    if (path == "/") return false;
    size_t cut = path.find_last_of('/');
    rest.push_back(path.substr(cut + 1));
    path.resize(cut == 0 ? 1 : cut);
  }
}

}  // namespace patcher
