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
#include <vector>

#include "text/ansi_text.h"
#include "text/text.h"
#include "wine/drives.h"
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

// Names are matched as Wine matches them: the same number of UTF-16 units,
// each equal in upper case (AnsiText::NameKey). No character beyond ASCII
// has an upper case in ASCII, so names in ASCII, by far the most, are
// matched among themselves by ASCII's rule, and the case table is read only
// when a name beyond ASCII is looked up.
struct Listing {
  dev_t dev;
  ino_t ino;
  timespec mtime;
  std::unordered_map<std::string, std::string> ascii;  // lower case -> name
  std::vector<std::string> others;  // names beyond ASCII, in listing order
  std::unordered_map<std::u16string, std::string> keys;  // of `others`
  bool keyed = false;  // whether `keys` holds all of `others`
  uint64_t used = 0;   // ListingCache::clock when last used

  size_t size() const { return ascii.size() + others.size(); }

  /// Adds `name`; the first of several that match stays the match.
  void Add(const std::string& name) {
    if (IsAscii(name)) {
      ascii.emplace(ToLowerAscii(name), name);
    } else {
      others.push_back(name);
      keyed = false;
    }
  }

  /// Finds the name that matches `name`. Returns null when there is none.
  const std::string* Find(const std::string& name, AnsiText* text) {
    if (IsAscii(name)) {
      auto it = ascii.find(ToLowerAscii(name));
      return it == ascii.end() ? nullptr : &it->second;
    }
    if (!keyed) {
      keys.clear();
      for (const std::string& other : others)
        keys.emplace(text->NameKey(other), other);
      keyed = true;
    }
    auto it = keys.find(text->NameKey(name));
    return it == keys.end() ? nullptr : &it->second;
  }
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
      names -= oldest->second.size();
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

/// Finds in the directory `dir` a name that matches `name` ignoring case.
bool FindIgnoringCase(const std::string& dir, const std::string& name,
                      AnsiText* text, std::string* found) {
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
      if (entry_name != "." && entry_name != "..") listing.Add(entry_name);
    }
    closedir(d);
    if (it != cache.dirs.end()) cache.names -= it->second.size();
    cache.names += listing.size();
    it = cache.dirs.insert_or_assign(dir, std::move(listing)).first;
    cache.Trim(dir);
  }
  it->second.used = ++cache.clock;
  const std::string* match = it->second.Find(name, text);
  if (match == nullptr) return false;
  *found = *match;
  return true;
}

/// MAX_PATH: the A file functions refuse a longer path, in UTF-16 units
/// with its terminator.
constexpr size_t kMaxPath = 260;

/// Where Wine sees the working directory `cwd`, found once per directory.
bool PlaceOfWorkingDirectory(const std::string& prefix, const std::string& cwd,
                             DrivePlace* place) {
  static std::mutex mu;
  static std::string* cached_key = new std::string;
  static DrivePlace* cached = new DrivePlace;
  static bool found = false;
  std::lock_guard<std::mutex> lock(mu);
  std::string key = prefix + '\0' + cwd;
  if (key != *cached_key) {
    found = FindDriveOf(prefix, cwd, cached);
    *cached_key = key;
  }
  *place = *cached;
  return found;
}

/// Sets `*base` to the host folder where the names of `path` start and
/// `*names` to those names, the leading `..` resolved: a drive's root for
/// `C:\x`; the working directory for `x`; the root of the drive on which
/// Wine sees the working directory for `\x`; and for `C:x`, the working
/// directory when Wine sees it on C:, else C:'s root (a new process has no
/// other current directory on C:). Returns false when the path starts on no
/// drive.
bool StartOf(const std::string& prefix, const WindowsPath& path,
             std::string* base, std::vector<std::string>* names) {
  const std::vector<std::string>& components = path.components;
  bool climbs = !components.empty() && components[0] == "..";
  char cwd[PATH_MAX];
  if ((!path.drive || !path.rooted) && !getcwd(cwd, sizeof cwd)) return false;
  if (!path.drive && !path.rooted && !climbs) {
    *base = cwd;
    *names = components;
    return true;
  }
  DrivePlace place;
  bool placed = (!path.drive || !path.rooted) &&
                PlaceOfWorkingDirectory(prefix, cwd, &place);
  std::vector<std::string> start;
  if (path.drive) {
    if (prefix.empty()) return false;
    *base = prefix + "/dosdevices/" + ToLowerAscii(path.drive) + ":";
    if (!path.rooted && placed && place.drive == path.drive) start = place.rest;
  } else if (path.rooted) {
    if (!placed) return false;
    *base = place.root;
  } else if (placed) {
    *base = place.root;
    start = place.rest;
  } else {
    // Seen on no drive (a prefix without Z:): the host's folders above it.
    *base = cwd;
    *names = components;
    return true;
  }
  size_t i = 0;
  for (; i < components.size() && components[i] == ".."; ++i) {
    if (!start.empty()) start.pop_back();
  }
  *names = std::move(start);
  names->insert(names->end(), components.begin() + i, components.end());
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
    cache.names -= it->second.size();
    cache.dirs.erase(it);
    return;
  }
  size_t before = it->second.size();
  it->second.Add(name);
  cache.names += it->second.size() - before;
  Stamp(st, &it->second);
}

bool MapToHost(const std::string& prefix, AnsiText* text,
               const std::string& windows_path, std::string* host_path) {
  std::u16string units = text->ToUtf16(windows_path);
  if (units.size() + 1 > kMaxPath) return false;
  WindowsPath path;
  if (!ParseWindowsPath(Utf16ToUtf8(units), &path)) return false;
  std::string base;
  std::vector<std::string> names;
  if (!StartOf(prefix, path, &base, &names)) return false;

  // Most names are spelt as on disk: one lstat of the whole path then
  // stands for the lookup of each name in turn.
  std::string exact = base;
  for (const std::string& name : names) exact = JoinPath(exact, name);
  struct stat st;
  if (!names.empty() && lstat(exact.c_str(), &st) == 0) {
    base = std::move(exact);
  } else {
    bool exists = true;
    for (const std::string& name : names) {
      std::string next = JoinPath(base, name);
      if (exists && lstat(next.c_str(), &st) != 0) {
        std::string match;
        exists = FindIgnoringCase(base, name, text, &match);
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
