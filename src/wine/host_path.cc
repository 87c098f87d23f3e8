#include "wine/host_path.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "text/text.h"
#include "wine/windows_path.h"

namespace patcher {

namespace {

// Listings of directories for case-insensitive lookups, so that a patch of
// many files in one directory reads it once: 20,000 files whose names are
// all in the wrong case take 1.2 times as long as with the right case
// (bench/run.sh). A listing is used while the directory's modification time
// is the one seen before it was read; the files this process creates are
// added to it. A name created by another program within one tick of the file
// system's clock after a listing may go unseen until the directory changes
// again.

struct Listing {
  dev_t dev;
  ino_t ino;
  timespec mtime;
  std::unordered_map<std::string, std::string> names;  // lower case -> name
  uint64_t used = 0;  // ListingCache::clock when last used
};

struct ListingCache {
  // Memory is bounded by names, about 100 bytes each: the least recently
  // used listings go first. A patch that goes back and forth between a few
  // hundred folders still reads each of them once.
  static constexpr size_t kMaxNames = 32 * 1024;
  std::mutex mu;
  std::unordered_map<std::string, Listing> dirs;  // by the directory's path
  size_t names = 0;                               // in all listings
  uint64_t clock = 0;                             // ticks at each use

  /// Drops least recently used listings other than `keep` until the names
  /// fit the budget.
  void Trim(const std::string& keep) {
    while (names > kMaxNames && dirs.size() > 1) {
      auto oldest = dirs.end();
      for (auto it = dirs.begin(); it != dirs.end(); ++it) {
        if (it->first != keep &&
            (oldest == dirs.end() || it->second.used < oldest->second.used))
          oldest = it;
      }
      names -= oldest->second.names.size();
      dirs.erase(oldest);
    }
  }
};

ListingCache& Listings() {
  static auto* cache = new ListingCache;
  return *cache;
}

bool IsCurrent(const Listing& listing, const struct stat& st) {
  return listing.dev == st.st_dev && listing.ino == st.st_ino &&
         listing.mtime.tv_sec == st.st_mtim.tv_sec &&
         listing.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

void Stamp(const struct stat& st, Listing* listing) {
  listing->dev = st.st_dev;
  listing->ino = st.st_ino;
  listing->mtime = st.st_mtim;
}

/// Finds in the directory `dir` a name that equals `name` but for ASCII case.
bool FindIgnoringCase(const std::string& dir, const std::string& name,
                      std::string* found) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  ListingCache& cache = Listings();
  std::lock_guard<std::mutex> lock(cache.mu);
  auto it = cache.dirs.find(dir);
  if (it == cache.dirs.end() || !IsCurrent(it->second, st)) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    Listing listing;
    Stamp(st, &listing);
    while (const dirent* entry = readdir(d)) {
      std::string entry_name = entry->d_name;
      if (entry_name != "." && entry_name != "..")
        listing.names.emplace(ToLowerAscii(entry_name), entry_name);
    }
    closedir(d);
    if (it != cache.dirs.end()) cache.names -= it->second.names.size();
    cache.names += listing.names.size();
    it = cache.dirs.insert_or_assign(dir, std::move(listing)).first;
    cache.Trim(dir);
  }
  it->second.used = ++cache.clock;
  auto match = it->second.names.find(ToLowerAscii(name));
  if (match == it->second.names.end()) return false;
  *found = match->second;
  return true;
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

void NoteCreated(const std::string& dir, const std::string& name) {
  ListingCache& cache = Listings();
  std::lock_guard<std::mutex> lock(cache.mu);
  auto it = cache.dirs.find(dir);
  if (it == cache.dirs.end()) return;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    cache.names -= it->second.names.size();
    cache.dirs.erase(it);
    return;
  }
  if (it->second.names.emplace(ToLowerAscii(name), name).second) ++cache.names;
  Stamp(st, &it->second);
}

bool MapToHost(const std::string& prefix, const std::string& windows_path,
               std::string* host_path) {
  WindowsPath path;
  if (!ParseWindowsPath(windows_path, &path)) return false;
  std::string base;
  if (path.drive) {
    if (prefix.empty()) return false;
    base = prefix + "/dosdevices/" + ToLowerAscii(path.drive) + ":";
  } else if (path.rooted) {
    base = "/";
  } else {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return false;
    base = cwd;
  }
  // Most names are spelt as on disk: one lstat of the whole path then
  // stands for the lookup of each name in turn.
  std::string exact = base;
  for (const std::string& name : path.components) exact = JoinPath(exact, name);
  struct stat st;
  if (!path.components.empty() && lstat(exact.c_str(), &st) == 0) {
    base = std::move(exact);
  } else {
    bool exists = true;
    for (const std::string& name : path.components) {
      std::string next = JoinPath(base, name);
      if (exists && lstat(next.c_str(), &st) != 0) {
        std::string match;
        exists = FindIgnoringCase(base, name, &match);
        if (exists) next = JoinPath(base, match);
      }
      base = std::move(next);
    }
  }
  if (path.trailing_separator && base.back() != '/') base += '/';
  *host_path = std::move(base);
  return true;
}

}  // namespace patcher
