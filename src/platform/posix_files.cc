#include "platform/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/wine_path.h"

namespace patcher {

namespace {

bool g_unnamed_temporaries = true;

/// Sets `*error` to "call(path): " and the text of errno `err`; returns false.
bool Fail(const char* call, const std::string& path, int err,
          std::string* error) {
  *error = std::string(call) + "(" + path + "): " + strerror(err);
  return false;
}

std::string Join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

/// Closes its descriptor when destroyed.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  /// Gives up the descriptor without closing it.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  /// Closes the descriptor now and returns what close() returned.
  int Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd);
  }

 private:
  int fd_;
};

/// The process's umask, read once. /proc shows it without changing it;
/// umask() can only read it by setting it, which would race with other
/// threads creating files.
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    if (FILE* status = fopen("/proc/self/status", "re")) {
      char line[256];
      unsigned value;
      while (fgets(line, sizeof line, status)) {
        if (sscanf(line, "Umask: %o", &value) == 1) {
          fclose(status);
          return static_cast<mode_t>(value);
        }
      }
      fclose(status);
    }
    mode_t old = umask(022);
    umask(old);
    return old;
  }();
  return mask;
}

// Listings of directories for case-insensitive lookups, so that a patch of
// many files in one directory reads it once. A listing is used while the
// directory's modification time is the one seen before it was read; the
// files CopyHostFile creates are added to it. A name created by another
// program within one tick of the file system's clock after a listing may go
// unseen until the directory changes again.

struct Listing {
  dev_t dev;
  ino_t ino;
  timespec mtime;
  std::unordered_map<std::string, std::string> names;  // FoldCase -> name
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
        listing.names.emplace(FoldCase(entry_name), entry_name);
    }
    closedir(d);
    if (it != cache.dirs.end()) cache.names -= it->second.names.size();
    cache.names += listing.names.size();
    it = cache.dirs.insert_or_assign(dir, std::move(listing)).first;
    cache.Trim(dir);
  }
  it->second.used = ++cache.clock;
  auto match = it->second.names.find(FoldCase(name));
  if (match == it->second.names.end()) return false;
  *found = match->second;
  return true;
}

/// Records that this process has just created `name` in `dir`.
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
  if (it->second.names.emplace(FoldCase(name), name).second) ++cache.names;
  Stamp(st, &it->second);
}

/// Returns the last name in `path`, ignoring trailing slashes.
std::string BaseName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return std::string();
  size_t start = path.rfind('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return path.substr(start, end + 1 - start);
}

class HostInputFile : public InputFile {
 public:
  explicit HostInputFile(int fd) : fd_(fd) {}
  long Read(char* buf, size_t size) override {
    ssize_t n;
    do {
      n = read(fd_.get(), buf, size);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
  }

 private:
  ScopedFd fd_;
};

/// Returns a hidden name for a temporary beside `name`, of the form
/// `.<name>.XXXXXX`, different at each call.
std::string TempName(const std::string& name) {
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<uint64_t> counter{0};
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t x = (static_cast<uint64_t>(now.tv_nsec) ^
                (static_cast<uint64_t>(getpid()) << 32)) +
               ++counter * 0x9E3779B97F4A7C15ull;
  std::string temp = "." + name.substr(0, 240) + ".";
  for (int i = 0; i < 6; ++i, x /= 62) temp += kChars[x % 62];
  return temp;
}

/// The file CopyHostFile writes before it replaces the destination. Where
/// the file system allows, it has no name until Commit(), so that a process
/// killed while writing it leaves nothing behind; otherwise it has a hidden
/// temporary name. A named temporary is removed unless Commit() succeeds.
class NewFile {
 public:
  NewFile(int dir_fd, const std::string& dir, const std::string& name)
      : dir_fd_(dir_fd), dir_(dir), name_(name) {}
  ~NewFile() {
    if (!temp_name_.empty()) unlinkat(dir_fd_, temp_name_.c_str(), 0);
  }

  /// Creates the file. With `named_fallback` false, fails rather than give
  /// it a name where the file system has no unnamed files.
  bool Create(std::string* error, bool named_fallback = true) {
    if (g_unnamed_temporaries) {
      label_ = dir_ + " (O_TMPFILE)";
      fd_.reset(openat(dir_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
      if (fd_.get() >= 0) return true;
      // Kernels without O_TMPFILE see O_DIRECTORY: EISDIR.
      if ((errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) ||
          !named_fallback)
        return Fail("open", label_, errno, error);
    } else if (!named_fallback) {
      return Fail("open", dir_ + " (O_TMPFILE)", EOPNOTSUPP, error);
    }
    for (int attempt = 0;; ++attempt) {
      std::string temp = TempName(name_);
      label_ = Join(dir_, temp);
      fd_.reset(openat(dir_fd_, temp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (fd_.get() >= 0) {
        temp_name_ = temp;
        return true;
      }
      if (errno != EEXIST || attempt == 100)
        return Fail("open", label_, errno, error);
    }
  }

  int fd() const { return fd_.get(); }
  /// Names the file in messages.
  const std::string& label() const { return label_; }

  /// Gives the file its temporary name if it has none, closes it and renames
  /// it to `dest`, the destination's full path.
  bool Commit(const std::string& dest, std::string* error) {
    if (temp_name_.empty()) {
      std::string proc = "/proc/self/fd/" + std::to_string(fd_.get());
      for (int attempt = 0;; ++attempt) {
        std::string temp = TempName(name_);
        if (linkat(AT_FDCWD, proc.c_str(), dir_fd_, temp.c_str(),
                   AT_SYMLINK_FOLLOW) == 0) {
          temp_name_ = temp;
          break;
        }
        if (errno != EEXIST || attempt == 100)
          return Fail("linkat", proc + ", " + Join(dir_, temp), errno, error);
      }
    }
    std::string temp_path = Join(dir_, temp_name_);
    if (fd_.Close() != 0) return Fail("close", temp_path, errno, error);
    if (renameat(dir_fd_, temp_name_.c_str(), dir_fd_, name_.c_str()) != 0)
      return Fail("rename", temp_path + ", " + dest, errno, error);
    temp_name_.clear();
    return true;
  }

 private:
  int dir_fd_;
  std::string dir_;
  std::string name_;
  ScopedFd fd_;
  std::string label_;
  std::string temp_name_;  // while the file has a name of its own in dir_
};

bool CopyData(int in, const std::string& source, const NewFile& out,
              std::string* error) {
  // Where the file system can share blocks (btrfs, XFS), a clone copies no
  // data at all. Anywhere else it fails at once, and the copy follows.
  if (ioctl(out.fd(), FICLONE, in) == 0) return true;
  for (;;) {
    ssize_t n = copy_file_range(in, nullptr, out.fd(), nullptr, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0 || errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
        errno == EINVAL)
      break;
    return Fail("copy_file_range", source + ", " + out.label(), errno, error);
  }
  char buf[64 * 1024];
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail("read", source, errno, error);
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t written = write(out.fd(), buf + done, n - done);
      if (written < 0 && errno != EINTR)
        return Fail("write", out.label(), errno, error);
      if (written > 0) done += written;
    }
  }
}

/// Where a copy goes: the directory of the destination, open, and the name.
struct Target {
  std::string dir;
  std::string name;
  ScopedFd dir_fd;
};

/// Refuses a destination that Windows would not open for writing. Returns
/// false with `*error` set when it is refused.
bool CheckDest(const std::string& dest, std::string* error) {
  // Root would be let through by POSIX, so the rule is ours to keep.
  struct stat old;
  if (lstat(dest.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) return Fail("open", dest, EISDIR, error);
    if (S_ISREG(old.st_mode) && (old.st_mode & 0222) == 0)
      return Fail("open", dest, EACCES, error);
  } else if (errno != ENOENT) {
    return Fail("lstat", dest, errno, error);
  }
  return true;
}

/// Opens the source of a copy and the directory of its destination, after
/// the checks that Windows makes when it opens them (those of the
/// destination only with `check_dest`). Returns false with `*error` set when
/// the copy cannot be made.
bool OpenForCopy(const std::string& source, const std::string& dest,
                 bool check_dest, ScopedFd* in, struct stat* src,
                 Target* target, std::string* error) {
  in->reset(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in->get() < 0) return Fail("open", source, errno, error);
  if (fstat(in->get(), src) != 0) return Fail("fstat", source, errno, error);
  if (S_ISDIR(src->st_mode)) return Fail("read", source, EISDIR, error);

  size_t slash = dest.rfind('/');
  target->dir = slash == std::string::npos ? "."
                : slash == 0               ? "/"
                                           : dest.substr(0, slash);
  target->name = slash == std::string::npos ? dest : dest.substr(slash + 1);
  if (target->name.empty()) return Fail("open", dest, EISDIR, error);

  if (check_dest && !CheckDest(dest, error)) return false;

  target->dir_fd.reset(
      open(target->dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (target->dir_fd.get() < 0) return Fail("open", target->dir, errno, error);
  return true;
}

/// Creates `out` and gives it the data, the permissions and the
/// modification time a copy of the source `src` has.
bool WriteNewFile(int in, const std::string& source, const struct stat& src,
                  bool named_fallback, NewFile* out, std::string* error) {
  if (!out->Create(error, named_fallback) || !CopyData(in, source, *out, error))
    return false;
  mode_t mode = 0666 & ~ProcessUmask();
  if ((src.st_mode & 0222) == 0) mode &= ~0222;
  if (fchmod(out->fd(), mode) != 0)
    return Fail("fchmod", out->label(), errno, error);
  const timespec times[2] = {{0, UTIME_OMIT}, src.st_mtim};
  if (futimens(out->fd(), times) != 0)
    return Fail("futimens", out->label(), errno, error);
  return true;
}

/// Tells whether `a` and `b` describe the same file with the same contents,
/// as far as its inode can tell.
bool SameVersion(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

bool MapToHost(const std::string& prefix, const std::string& windows_path,
               std::string* host_path) {
  WindowsPath path;
  if (!ParseWindowsPath(windows_path, &path)) return false;
  std::string base;
  if (path.drive) {
    if (prefix.empty()) return false;
    base = prefix + "/dosdevices/" + static_cast<char>(path.drive - 'A' + 'a') +
           ":";
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
  for (const std::string& name : path.components) exact = Join(exact, name);
  struct stat st;
  if (!path.components.empty() && lstat(exact.c_str(), &st) == 0) {
    base = std::move(exact);
  } else {
    bool exists = true;
    for (const std::string& name : path.components) {
      std::string next = Join(base, name);
      if (exists && lstat(next.c_str(), &st) != 0) {
        std::string match;
        exists = FindIgnoringCase(base, name, &match);
        if (exists) next = Join(base, match);
      }
      base = std::move(next);
    }
  }
  if (path.trailing_separator && base.back() != '/') base += '/';
  *host_path = std::move(base);
  return true;
}

uint32_t HostAttributes(const std::string& host_path) {
  struct stat st;
  if (lstat(host_path.c_str(), &st) != 0) return kInvalidAttributes;
  uint32_t attributes =
      S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
  // A symbolic link's own mode is 0777: never read-only.
  if ((st.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  std::string name = BaseName(host_path);
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    attributes |= kAttributeHidden;
  return attributes;
}

bool SetHostAttributes(const std::string& host_path, uint32_t attributes,
                       std::string* error) {
  struct stat st;
  if (lstat(host_path.c_str(), &st) != 0)
    return Fail("lstat", host_path, errno, error);
  if (!S_ISREG(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (attributes & kAttributeReadOnly) {
    wanted &= ~0222;
  } else if ((mode & 0222) == 0) {
    // Write permission for the owner, and for those who may read it.
    wanted |= (0600 | ((mode & 044) >> 1)) & ~ProcessUmask();
  }
  if (wanted != mode && chmod(host_path.c_str(), wanted) != 0)
    return Fail("chmod", host_path, errno, error);
  return true;
}

std::unique_ptr<InputFile> OpenHostFile(const std::string& host_path) {
  int fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto file = std::make_unique<HostInputFile>(fd);
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  return file;
}

bool CopyHostFile(const std::string& source, const std::string& dest,
                  std::string* error) {
  Target target;
  ScopedFd in;
  struct stat src;
  if (!OpenForCopy(source, dest, true, &in, &src, &target, error)) return false;
  NewFile out(target.dir_fd.get(), target.dir, target.name);
  if (!WriteNewFile(in.get(), source, src, true, &out, error)) return false;
  // The data reaches the disk before the rename makes it the destination:
  // after a crash the destination is then the old file or the whole new one,
  // never a new name over missing data.
  if (fsync(out.fd()) != 0) return Fail("fsync", out.label(), errno, error);
  if (!out.Commit(dest, error)) return false;
  NoteCreated(target.dir, target.name);
  return true;
}

// A copy announced to HostCopier, with the file written ahead for it.
struct HostCopier::Ahead {
  std::string source;
  std::string dest;
  // The rest only when the data was written ahead.
  std::string dir;  // of dest, and its last name
  std::string name;
  ScopedFd dir_fd;  // declared before `file`, which uses it until destroyed
  std::unique_ptr<NewFile> file;
  struct stat source_st = {};  // the source whose data was written
  struct stat dir_st = {};     // the directory the file was made in
  uint64_t bytes = 0;
  bool flushed = false;
  int flush_error = 0;
};

HostCopier::HostCopier() = default;
HostCopier::~HostCopier() = default;

void HostCopier::Announce(const std::string& source, const std::string& dest) {
  auto ahead = std::make_unique<Ahead>();
  ahead->source = source;
  ahead->dest = dest;
  if (!source.empty() && ahead_.size() < kMaxAhead) WriteAhead(ahead.get());
  ahead_bytes_ += ahead->bytes;
  ahead_.push_back(std::move(ahead));
}

void HostCopier::WriteAhead(Ahead* ahead) {
  // Failures are dropped here: Copy() does the whole copy again and reports
  // what fails then. The destination may still be made writable before.
  std::string error;
  Target target;
  ScopedFd in;
  struct stat src;
  if (!OpenForCopy(ahead->source, ahead->dest, false, &in, &src, &target,
                   &error) ||
      !S_ISREG(src.st_mode) ||
      ahead_bytes_ + static_cast<uint64_t>(src.st_size) > kMaxAheadBytes ||
      fstat(target.dir_fd.get(), &ahead->dir_st) != 0) {
    return;
  }
  // Files written ahead must never be what leaves a copy without room.
  struct statvfs fs;
  if (fstatvfs(target.dir_fd.get(), &fs) != 0 ||
      static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize <
          2 * kMaxAheadBytes + static_cast<uint64_t>(src.st_size)) {
    return;
  }
  auto file =
      std::make_unique<NewFile>(target.dir_fd.get(), target.dir, target.name);
  // Only an unnamed file: a named one would be left behind by a crash.
  if (!WriteNewFile(in.get(), ahead->source, src, false, file.get(), &error))
    return;
  ahead->dir = target.dir;
  ahead->name = target.name;
  ahead->dir_fd.reset(target.dir_fd.release());
  ahead->file = std::move(file);
  ahead->source_st = src;
  ahead->bytes = static_cast<uint64_t>(src.st_size);
}

std::unique_ptr<HostCopier::Ahead> HostCopier::TakeFirst() {
  if (ahead_.empty()) return nullptr;
  std::unique_ptr<Ahead> first = std::move(ahead_.front());
  ahead_.pop_front();
  ahead_bytes_ -= first->bytes;
  return first;
}

bool HostCopier::Copy(const std::string& source, const std::string& dest,
                      bool announced, std::string* error) {
  std::unique_ptr<Ahead> ahead;
  if (announced) ahead = TakeFirst();
  if (ahead && (ahead->source != source || ahead->dest != dest)) ahead.reset();
  bool copied = CopyUsing(ahead.get(), source, dest, error);
  ahead.reset();
  if (ahead_.empty()) {
    std::string sync_error;
    if (!SyncRenamedDirs(&sync_error) && copied) {
      *error = sync_error;
      copied = false;
    }
  }
  return copied;
}

void HostCopier::Forget() {
  TakeFirst();
  std::string error;  // the copy fails anyway, for its own reason
  if (ahead_.empty()) SyncRenamedDirs(&error);
}

bool HostCopier::CopyUsing(Ahead* ahead, const std::string& source,
                           const std::string& dest, std::string* error) {
  // The file written ahead is used while its source and its directory are
  // the ones it was made from; their paths need not be opened again.
  struct stat src, dir_st;
  if (ahead && ahead->file && stat(source.c_str(), &src) == 0 &&
      SameVersion(src, ahead->source_st) &&
      stat(ahead->dir.c_str(), &dir_st) == 0 &&
      dir_st.st_dev == ahead->dir_st.st_dev &&
      dir_st.st_ino == ahead->dir_st.st_ino) {
    if (!CheckDest(dest, error)) return false;
    if (!ahead->flushed) Flush(ahead);
    if (ahead->flush_error != 0)
      return Fail("fsync", ahead->file->label(), ahead->flush_error, error);
    if (!ahead->file->Commit(dest, error)) return false;
    NoteCreated(ahead->dir, ahead->name);
    renamed_dirs_.emplace(dir_st.st_dev, ahead->dir);
    return true;
  }

  Target target;
  ScopedFd in;
  if (!OpenForCopy(source, dest, true, &in, &src, &target, error)) return false;
  if (fstat(target.dir_fd.get(), &dir_st) != 0)
    return Fail("fstat", target.dir, errno, error);
  NewFile out(target.dir_fd.get(), target.dir, target.name);
  if (!WriteNewFile(in.get(), source, src, true, &out, error)) return false;
  if (fsync(out.fd()) != 0) return Fail("fsync", out.label(), errno, error);
  if (!out.Commit(dest, error)) return false;
  NoteCreated(target.dir, target.name);
  renamed_dirs_.emplace(dir_st.st_dev, target.dir);
  return true;
}

void HostCopier::Flush(Ahead* first) {
  std::vector<Ahead*> batch = {first};
  for (const std::unique_ptr<Ahead>& ahead : ahead_) {
    if (ahead->file && !ahead->flushed) batch.push_back(ahead.get());
  }
  // One syncfs puts the data of the whole batch on disk with one journal
  // commit and one flush of the disk's cache, where an fsync per file would
  // flush that cache once per file. Where it fails, each file gets an fsync
  // of its own, which tells which of them could not be written.
  std::map<dev_t, int> synced;  // file system -> errno of its syncfs, or 0
  for (Ahead* ahead : batch) {
    auto it = synced.find(ahead->dir_st.st_dev);
    if (it == synced.end()) {
      int err = syncfs(ahead->dir_fd.get()) == 0 ? 0 : errno;
      it = synced.emplace(ahead->dir_st.st_dev, err).first;
    }
    if (it->second != 0 && fsync(ahead->file->fd()) != 0)
      ahead->flush_error = errno;
    ahead->flushed = true;
  }
}

bool HostCopier::SyncRenamedDirs(std::string* error) {
  bool synced = true;
  for (const auto& [dev, dir] : renamed_dirs_) {
    ScopedFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
      if (synced) Fail("open", dir, errno, error);
      synced = false;
    } else if (syncfs(fd.get()) != 0) {
      if (synced) Fail("syncfs", dir, errno, error);
      synced = false;
    }
  }
  renamed_dirs_.clear();
  return synced;
}

void SetUnnamedTemporariesForTesting(bool enabled) {
  g_unnamed_temporaries = enabled;
}

}  // namespace patcher
