// Windows paths mapped onto a Wine prefix's disk, names found in listings of
// their directories read once per run, or by a look at each where that
// costs less.

#include "wine/host_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "posix/files.h"
#include "posix/scoped_fd.h"
#include "text/ansi_text.h"
#include "text/text.h"
#include "wine/drives.h"
#include "wine/windows_path.h"

namespace patcher {

namespace {

/// MAX_PATH: the A file functions refuse a longer path, in UTF-16 units
/// with its terminator.
constexpr size_t kMaxPath = 260;

// The listings last used, kept whatever their size.
constexpr size_t kKeptListings = 16;

// Paths kept mapped: those of the copies written ahead, and more.
constexpr size_t kMaxMapped = 512;

// A directory not yet read is read once this many names have been looked
// at in it one by one, about what reading a small directory costs (open,
// fstat, two getdents64, close): one looked into once or twice is never
// read, one looked into often is read once.
constexpr uint32_t kLooksBeforeListing = 5;

// Directories whose looks are counted, at most; beyond, counts start anew.
constexpr size_t kMaxCounted = 4096;

}  // namespace

// Names are matched as Wine matches them: the same number of UTF-16 units,
// each equal in upper case (AnsiText::NameKey). No character beyond ASCII
// has an upper case in ASCII, so names in ASCII, by far the most, are
// matched among themselves by ASCII's rule, and the case table is read only
// when a name beyond ASCII is looked up and not found as it is spelt.
namespace {

unsigned char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a')
                              : static_cast<unsigned char>(c);
}

// Orders names (NUL-terminated) by their lower case.
int CompareIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = LowerAscii(*a), y = LowerAscii(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

// Orders the names of a listing, given where they start, and names looked
// up, by their lower case.
struct LowerLess {
  const char* names;
  bool operator()(uint32_t a, uint32_t b) const {
    return CompareIgnoringCase(names + a, names + b) < 0;
  }
  bool operator()(uint32_t a, const char* b) const {
    return CompareIgnoringCase(names + a, b) < 0;
  }
  bool operator()(const char* a, uint32_t b) const {
    return CompareIgnoringCase(a, names + b) < 0;
  }
};

// A hash of a name in ASCII by its lower case (FNV-1a).
uint64_t KeyOf(const char* name) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (; *name; ++name) h = (h ^ LowerAscii(*name)) * 0x100000001b3ull;
  return h;
}

}  // namespace

void HostPaths::Listing::Add(const std::string& name, unsigned char type) {
  if (IsAscii(name)) {
    const char* text = name.c_str();
    std::vector<uint32_t>::iterator at = ascii.end();
    if (sorted) {
      auto [lo, hi] = std::equal_range(ascii.begin(), ascii.end(), text,
                                       LowerLess{ascii_names.data()});
      for (auto i = lo; i != hi; ++i) {
        if (strcmp(ascii_names.data() + *i, text) == 0) return;
      }
      at = hi;  // after the names alike, listed before it
    }
    uint32_t start = static_cast<uint32_t>(ascii_names.size());
    ascii_names.append(name);
    ascii_names.push_back('\0');
    ascii_names.push_back(static_cast<char>(type));
    ascii.insert(at, start);
  } else if (others.emplace(name, type).second) {
    others_in_order.push_back(name);
    keyed = false;
  }
}

void HostPaths::Listing::Sort() {
  std::stable_sort(ascii.begin(), ascii.end(), LowerLess{ascii_names.data()});
  // The same name twice (a directory changed while it was read): once.
  auto same = [this](uint32_t a, uint32_t b) {
    return strcmp(ascii_names.data() + a, ascii_names.data() + b) == 0;
  };
  ascii.erase(std::unique(ascii.begin(), ascii.end(), same), ascii.end());
  ascii.shrink_to_fit();
  ascii_names.shrink_to_fit();
  sorted = true;
}

bool HostPaths::Listing::Find(const std::string& name, AnsiText* text,
                              std::string* found, unsigned char* type) {
  if (IsAscii(name)) {
    if (name.find('\0') != std::string::npos) return false;
    auto [lo, hi] = std::equal_range(ascii.begin(), ascii.end(), name.c_str(),
                                     LowerLess{ascii_names.data()});
    if (lo == hi) return false;
    // The exact name if it is there, else the first listed.
    uint32_t pick = *lo;
    for (auto i = lo; i != hi; ++i) {
      if (strcmp(ascii_names.data() + *i, name.c_str()) == 0) {
        pick = *i;
        break;
      }
    }
    const char* match = ascii_names.data() + pick;
    size_t length = strlen(match);
    found->assign(match, length);
    *type = static_cast<unsigned char>(match[length + 1]);
    return true;
  }
  auto exact = others.find(name);
  if (exact == others.end()) {
    if (!keyed) {
      keys.clear();
      for (const std::string& other : others_in_order)
        keys.emplace(text->NameKey(other), other);
      keyed = true;
    }
    auto it = keys.find(text->NameKey(name));
    if (it == keys.end()) return false;
    exact = others.find(it->second);
  }
  *found = exact->first;
  *type = exact->second;
  return true;
}

void HostPaths::Summary::Add(const std::string& name) {
  if (!IsAscii(name)) {
    others = true;
    return;
  }
  uint64_t key = KeyOf(name.c_str());
  auto it = std::lower_bound(keys.begin(), keys.end(), key);
  if (it == keys.end() || *it != key) keys.insert(it, key);
}

bool HostPaths::Summary::MayHold(const std::string& name) const {
  // Names beyond ASCII match only among themselves (see Listing::Add).
  if (!IsAscii(name)) return others;
  return std::binary_search(keys.begin(), keys.end(), KeyOf(name.c_str()));
}

HostPaths::HostPaths(std::string prefix, AnsiText* text, size_t max_names)
    : prefix_(std::move(prefix)), text_(text), max_names_(max_names) {}

bool HostPaths::WorkingDirectory(std::string* cwd) {
  // Read once: the program never changes it, and each relative path would
  // otherwise ask again (three getcwd calls per file before).
  if (cwd_state_ == 0) {
    char buf[PATH_MAX];
    cwd_state_ = getcwd(buf, sizeof buf) ? 1 : -1;
    if (cwd_state_ == 1) cwd_ = buf;
  }
  *cwd = cwd_;
  return cwd_state_ == 1;
}

/// Sets `*base` to the host folder where the names of `path` start and
/// `*names` to those names, the leading `..` resolved: a drive's root for
/// `C:\x`; the working directory for `x`; the root of the drive on which
/// Wine sees the working directory for `\x`; and for `C:x`, the working
/// directory when Wine sees it on C:, else C:'s root (a new process has no
/// other current directory on C:). Returns false when the path starts on no
/// drive.
bool HostPaths::StartOf(const WindowsPath& path, std::string* base,
                        std::vector<std::string>* names) {
  const std::vector<std::string>& components = path.components;
  bool climbs = !components.empty() && components[0] == "..";
  std::string cwd;
  if ((!path.drive || !path.rooted) && !WorkingDirectory(&cwd)) return false;
  if (!path.drive && !path.rooted && !climbs) {
    *base = cwd;
    *names = components;
    return true;
  }
  bool placed = false;
  if (!path.drive || !path.rooted) {
    if (place_state_ == 0)
      place_state_ = FindDriveOf(prefix_, cwd, &place_) ? 1 : -1;
    placed = place_state_ == 1;
  }
  std::vector<std::string> start;
  if (path.drive) {
    if (prefix_.empty()) return false;
    *base = prefix_ + "/dosdevices/" + ToLowerAscii(path.drive) + ":";
    if (!path.rooted && placed && place_.drive == path.drive)
      start = place_.rest;
  } else if (path.rooted) {
    if (!placed) return false;
    *base = place_.root;
  } else if (placed) {
    *base = place_.root;
    start = place_.rest;
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

HostPaths::Listing& HostPaths::ListingOf(const std::string& dir) {
  auto it = listings_.find(dir);
  if (it == listings_.end()) {
    auto summary = summaries_.find(dir);
    if (summary != summaries_.end()) DropSummary(summary);
    looks_.erase(dir);
    ++listings_read_;
    Listing listing;
    ScopedFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (fd.get() >= 0 && fstat(fd.get(), &st) == 0) {
      listing.readable = true;
      listing.dev = st.st_dev;
      listing.ino = st.st_ino;
      listing.sorted = false;
      ReadDirectory(fd.get(), [&listing](const char* name, unsigned char type) {
        listing.Add(name, type);
      });
      listing.Sort();
    }
    names_ += listing.Cost();
    it = listings_.emplace(dir, std::move(listing)).first;
    if (it->second.readable)
      by_inode_.emplace(std::make_pair(it->second.dev, it->second.ino), dir);
    it->second.used = ++clock_;
    Trim();
  }
  it->second.used = ++clock_;
  return it->second;
}

HostPaths::Found HostPaths::Look(const std::string& dir,
                                 const std::string& name, std::string* match,
                                 unsigned char* type) {
  *type = DT_UNKNOWN;
  auto kept = listings_.find(dir);
  if (kept != listings_.end()) {
    kept->second.used = ++clock_;
    return LookIn(kept->second, dir, name, match, type);
  }
  // Not listed: a name spelt as on disk is found by one lstat, which costs
  // less than reading a directory that is looked into once or twice, or
  // again and again once it no longer fits the budget: 80,000 files in 200
  // folders took 29.1 calls per file when listings dropped were read anew
  // for each name, and 14.1 with this, summaries and listings four times
  // smaller (bench/run.sh, scale).
  bool direct;
  auto summary = summaries_.find(dir);
  if (summary != summaries_.end()) {
    summary->second.used = ++clock_;
    if (!summary->second.MayHold(name)) return Found::kNone;
    direct = true;
  } else {
    if (looks_.size() >= kMaxCounted && !looks_.count(dir)) looks_.clear();
    direct = ++looks_[dir] < kLooksBeforeListing;
  }
  if (direct) {
    struct stat st;
    if (lstat(JoinPath(dir, name).c_str(), &st) == 0) {
      *type = IFTODT(st.st_mode);
      return Found::kExact;
    }
  }
  // Not there as spelt (or looked into often enough): only the listing
  // tells whether it is there in another case.
  Listing& listing = ListingOf(dir);
  if (direct && !listing.readable) return Found::kNone;
  return LookIn(listing, dir, name, match, type);
}

HostPaths::Found HostPaths::LookIn(Listing& listing, const std::string& dir,
                                   const std::string& name, std::string* match,
                                   unsigned char* type) {
  if (!listing.readable) {
    // Not a directory, or one that may be searched but not read: a name
    // spelt as on disk is still found.
    struct stat st;
    return lstat(JoinPath(dir, name).c_str(), &st) == 0 ? Found::kExact
                                                        : Found::kNone;
  }
  if (!listing.Find(name, text_, match, type)) return Found::kNone;
  return *match == name ? Found::kExact : Found::kMatch;
}

namespace {

void Unlist(std::multimap<std::pair<dev_t, ino_t>, std::string>* by_inode,
            dev_t dev, ino_t ino, const std::string& path) {
  auto range = by_inode->equal_range({dev, ino});
  for (auto i = range.first; i != range.second; ++i) {
    if (i->second == path) {
      by_inode->erase(i);
      break;
    }
  }
}

}  // namespace

void HostPaths::Drop(std::unordered_map<std::string, Listing>::iterator it,
                     bool summarize) {
  Listing& listing = it->second;
  names_ -= listing.Cost();
  if (summarize && listing.readable) {
    // Listed under the same path as before, now as a summary.
    Summary summary;
    summary.keys.reserve(listing.ascii.size());
    for (uint32_t start : listing.ascii)
      summary.keys.push_back(KeyOf(listing.ascii_names.data() + start));
    std::sort(summary.keys.begin(), summary.keys.end());
    summary.keys.erase(std::unique(summary.keys.begin(), summary.keys.end()),
                       summary.keys.end());
    summary.others = !listing.others.empty();
    summary.dev = listing.dev;
    summary.ino = listing.ino;
    summary.used = listing.used;
    keys_ += summary.keys.size() + 1;
    summaries_.insert_or_assign(it->first, std::move(summary));
  } else if (listing.readable) {
    Unlist(&by_inode_, listing.dev, listing.ino, it->first);
  }
  listings_.erase(it);
}

void HostPaths::DropSummary(
    std::unordered_map<std::string, Summary>::iterator it) {
  Unlist(&by_inode_, it->second.dev, it->second.ino, it->first);
  keys_ -= it->second.keys.size() + 1;
  summaries_.erase(it);
}

void HostPaths::Trim() {
  // The least recently used go first, but never the few last used: the
  // folders a path goes through and those of the next paths, however big,
  // are not read again for each file.
  if (names_ > max_names_ && listings_.size() > kKeptListings) {
    std::vector<std::unordered_map<std::string, Listing>::iterator> by_use;
    for (auto it = listings_.begin(); it != listings_.end(); ++it)
      by_use.push_back(it);
    std::sort(by_use.begin(), by_use.end(),
              [](auto a, auto b) { return a->second.used < b->second.used; });
    // Down to three quarters of the budget, so that this is not done again
    // for each folder read next.
    for (size_t i = 0;
         i + kKeptListings < by_use.size() && names_ > max_names_ / 4 * 3; ++i)
      Drop(by_use[i], true);
  }
  TrimSummaries();
}

void HostPaths::TrimSummaries() {
  size_t max_keys = 2 * max_names_;
  if (keys_ <= max_keys) return;
  std::vector<std::unordered_map<std::string, Summary>::iterator> by_use;
  for (auto it = summaries_.begin(); it != summaries_.end(); ++it)
    by_use.push_back(it);
  std::sort(by_use.begin(), by_use.end(),
            [](auto a, auto b) { return a->second.used < b->second.used; });
  for (size_t i = 0; i < by_use.size() && keys_ > max_keys / 4 * 3; ++i)
    DropSummary(by_use[i]);
}

void HostPaths::NoteCreated(const struct stat& dir, const std::string& name) {
  // Paths mapped from a listing dropped since may change too.
  ++generation_;
  auto range = by_inode_.equal_range({dir.st_dev, dir.st_ino});
  for (auto i = range.first; i != range.second; ++i) {
    auto listing = listings_.find(i->second);
    if (listing != listings_.end()) {
      size_t before = listing->second.Cost();
      listing->second.Add(name, DT_REG);
      names_ += listing->second.Cost() - before;
    } else {
      Summary& summary = summaries_.at(i->second);
      keys_ -= summary.keys.size();
      summary.Add(name);
      keys_ += summary.keys.size();
    }
  }
  // A directory neither listed nor summarized needs no note: its names are
  // looked at on disk.
  Trim();
}

void HostPaths::NoteRemoved(const struct stat& dir) {
  for (;;) {
    auto i = by_inode_.find({dir.st_dev, dir.st_ino});
    if (i == by_inode_.end()) break;
    auto listing = listings_.find(i->second);
    if (listing != listings_.end())
      Drop(listing, false);
    else
      DropSummary(summaries_.find(i->second));
  }
  ++generation_;
}

void HostPaths::Forget() {
  ++generation_;
  listings_.clear();
  summaries_.clear();
  looks_.clear();
  by_inode_.clear();
  names_ = 0;
  keys_ = 0;
}

void HostPaths::SetPrefix(std::string prefix) {
  prefix_ = std::move(prefix);
  place_state_ = 0;
  Forget();
}

bool HostPaths::Map(const std::string& windows_path, std::string* host_path,
                    unsigned char* type) {
  // A file's paths are mapped several times (the source in the check and
  // the copy, the destination for its attributes and its copy). Kept while
  // no listing changes, a run replacing 1,000 files took 42.6 million
  // instructions rather than 61.6 million (callgrind).
  auto it = mapped_.find(windows_path);
  if (it != mapped_.end() && it->second.generation == generation_) {
    *host_path = it->second.host_path;
    if (type) *type = it->second.type;
    return true;
  }
  unsigned char found_type;
  if (!MapAnew(windows_path, host_path, &found_type)) return false;
  if (type) *type = found_type;
  if (it != mapped_.end()) {
    it->second = {*host_path, found_type, generation_};
  } else {
    mapped_.emplace(windows_path, Mapped{*host_path, found_type, generation_});
    mapped_order_.push_back(windows_path);
    if (mapped_order_.size() > kMaxMapped) {
      mapped_.erase(mapped_order_.front());
      mapped_order_.pop_front();
    }
  }
  return true;
}

bool HostPaths::MapAnew(const std::string& windows_path, std::string* host_path,
                        unsigned char* type) {
  std::u16string units = text_->ToUtf16(windows_path);
  if (units.size() + 1 > kMaxPath) return false;
  WindowsPath path;
  if (!ParseWindowsPath(Utf16ToUtf8(units), &path)) return false;
  std::string base;
  std::vector<std::string> names;
  if (!StartOf(path, &base, &names)) return false;

  // Each name is looked up in its directory's listing, read once per run:
  // a name spelt as on disk costs no system call, where an lstat of the
  // whole path cost one per mapping and a path was mapped up to six times
  // per file.
  bool exists = true;
  unsigned char last_type = DT_UNKNOWN;
  for (const std::string& name : names) {
    std::string match;
    if (exists) {
      switch (Look(base, name, &match, &last_type)) {
        case Found::kExact:
          break;
        case Found::kMatch:
          base = JoinPath(base, match);
          continue;
        case Found::kNone:
          exists = false;
          last_type = DT_UNKNOWN;
          break;
      }
    }
    base = JoinPath(base, name);
  }
  if (path.trailing_separator && base.back() != '/') base += '/';
  *type = names.empty() ? static_cast<unsigned char>(DT_UNKNOWN) : last_type;
  *host_path = std::move(base);
  return true;
}

bool MapToHost(const std::string& prefix, AnsiText* text,
               const std::string& windows_path, std::string* host_path) {
  HostPaths paths(prefix, text);
  return paths.Map(windows_path, host_path);
}

}  // namespace patcher
