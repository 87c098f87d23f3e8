// Whether a wineserver runs for a prefix, asked of its lock without taking it.

#include "prefixes/wineserver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "posix/files.h"
#include "posix/scoped_fd.h"

namespace patcher {

const char* const kWineFlatpakApps[6] = {
    "com.valvesoftware.Steam",          "net.lutris.Lutris",
    "com.heroicgameslauncher.hgl",      "com.usebottles.bottles",
    "io.github.Faugus.faugus-launcher", "ru.linux_gaming.PortProton",
};

namespace {

/// Flatpak folders looked in at the most.
constexpr size_t kMaxFlatpakApps = 1000;

/// Appends the locks in the /tmp of each Flatpak app under `runtime_dir`:
/// a wineserver started in an app keeps its folder there.
void AddFlatpakLocks(const std::string& runtime_dir, const std::string& user,
                     const std::string& server,
                     std::vector<std::string>* locks) {
  std::string flatpak = JoinPath(runtime_dir, ".flatpak");
  std::vector<std::string> apps(std::begin(kWineFlatpakApps),
                                std::end(kWineFlatpakApps));
  size_t known = apps.size();
  if (DIR* dir = opendir(flatpak.c_str())) {
    std::vector<std::string> others;
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != ".." &&
          std::find(apps.begin(), apps.begin() + known, name) ==
              apps.begin() + known)
        others.push_back(name);
      if (others.size() == kMaxFlatpakApps) break;
    }
    closedir(dir);
    std::sort(others.begin(), others.end());
    apps.insert(apps.end(), others.begin(), others.end());
  }
  for (const std::string& app : apps)
    locks->push_back(
        JoinPath(flatpak, app + "/tmp/.wine-" + user + "/" + server));
}

}  // namespace

std::vector<std::string> WineserverLocks(const std::string& prefix, uid_t uid,
                                         const ServerRoots& roots) {
  std::vector<std::string> locks;
  struct stat st;
  if (prefix.empty() || stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return locks;
  char server[64];
  snprintf(server, sizeof server, "server-%llx-%llx/lock",
           static_cast<unsigned long long>(st.st_dev),
           static_cast<unsigned long long>(st.st_ino));
  std::string user = std::to_string(uid);
  locks.push_back(JoinPath(roots.tmp, ".wine-" + user + "/" + server));
  locks.push_back(JoinPath(roots.run_user, user + "/wine/" + server));
  // Debian's Wine, without a runtime folder, names its folder in the prefix.
  std::string named;
  if (ReadSmallHostFile(JoinPath(prefix, "wineserver"), 256, &named)) {
    while (!named.empty() && (named.back() == '\n' || named.back() == '\r'))
      named.pop_back();
    if (!named.empty() && named != "." && named != ".." &&
        named.find_first_of(std::string("/\0\n", 3)) == std::string::npos)
      locks.push_back(JoinPath(roots.tmpdir, named + "/" + server));
  }
  // That file can name another folder than the one a running server uses
  // (seen in a test: the server in one, the file naming a newer one), so
  // the user's other folders there that hold this prefix's server count
  // too.
  std::string dir_name = server;
  dir_name.resize(dir_name.size() - 5);  // without "/lock"
  DIR* dir = opendir(roots.tmpdir.c_str());
  while (dir) {
    const dirent* entry = readdir(dir);
    if (!entry) break;
    std::string name = entry->d_name;
    if (name.compare(0, 5, "wine-") != 0 || name == named) continue;
    std::string folder = JoinPath(roots.tmpdir, name);
    struct stat folder_st;
    if (lstat(folder.c_str(), &folder_st) != 0 || !S_ISDIR(folder_st.st_mode) ||
        folder_st.st_uid != uid ||
        lstat(JoinPath(folder, dir_name).c_str(), &folder_st) != 0 ||
        !S_ISDIR(folder_st.st_mode))
      continue;
    locks.push_back(JoinPath(folder, server));
  }
  if (dir) closedir(dir);
  AddFlatpakLocks(roots.runtime_dir.empty() ? JoinPath(roots.run_user, user)
                                            : roots.runtime_dir,
                  user, server, &locks);
  return locks;
}

bool LockIsHeld(const std::string& lock) {
  ScopedFd fd(open(lock.c_str(),
                   O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  struct flock query = {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = 0;
  query.l_len = 1;
  // The holder's pid may read 0 (another pid namespace, as in a Flatpak);
  // the lock's type tells.
  return fcntl(fd.get(), F_GETLK, &query) == 0 && query.l_type != F_UNLCK;
}

bool WineserverRuns(const std::string& prefix) {
  ServerRoots roots;
  const char* tmpdir = getenv("TMPDIR");
  if (tmpdir && *tmpdir) roots.tmpdir = tmpdir;
  const char* runtime_dir = getenv("XDG_RUNTIME_DIR");
  if (runtime_dir && runtime_dir[0] == '/') roots.runtime_dir = runtime_dir;
  for (const std::string& lock : WineserverLocks(prefix, getuid(), roots)) {
    if (LockIsHeld(lock)) return true;
  }
  return false;
}

}  // namespace patcher
