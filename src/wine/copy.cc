// Copying one file into a Wine prefix as CopyFileA does: by a new file
// renamed over the destination where that keeps the file what it was, else
// by writing into the destination.

#include "wine/copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "posix/files.h"
#include "posix/unix_error.h"
#include "text/temporary_name.h"
#include "wine/host_file.h"
#include "wine/host_path.h"

namespace patcher {

namespace {

bool g_unnamed_temporaries = true;

/// Returns a temporary's name for a file beside `name`, different at each
/// call; IsTemporaryName knows it.
std::string TempName(const std::string& name) {
  static uint64_t counter = 0;
  static const pid_t pid = getpid();  // a system call each time otherwise
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return TemporaryName(name, (static_cast<uint64_t>(now.tv_nsec) ^
                              (static_cast<uint64_t>(pid) << 32)) +
                                 ++counter * 0x9E3779B97F4A7C15ull);
}

/// Tells whether an unnamed file can be given a name: linkat() reaches it
/// through /proc/self/fd, which a chroot or a bare container may not have.
bool CanNameUnnamedFiles() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

/// Tells whether `err`, from fchmod, fchown or futimens on a file this
/// process made or may write, says that the file system decides what the
/// file has: it stores no permission bits or owners (ENOSYS, EOPNOTSUPP:
/// fusefat), or gives every file the owner of the mount, which the process
/// then is not (EPERM: ntfs-3g and exfat-fuse for a user). What the file
/// ends up as is what counts.
bool FileSystemDecides(int err) {
  return err == ENOSYS || err == EOPNOTSUPP || err == EPERM;
}

/// Tells whether the file system of `fd` has room for the file, which `st`
/// describes, to grow to `size` bytes, as far as fstatvfs tells: the blocks
/// it does not hold yet, and a little more for those that map them. True
/// when it cannot tell.
bool HasRoomFor(int fd, const struct stat& st, off_t size) {
  const uint64_t held = static_cast<uint64_t>(st.st_blocks) * 512;
  if (static_cast<uint64_t>(size) <= held) return true;
  struct statvfs fs;
  if (fstatvfs(fd, &fs) != 0) return true;
  uint64_t need = static_cast<uint64_t>(size) - held;
  need += need / 64 + (64 << 10);
  return need <= static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/// Tells whether `a` and `b` describe the same file with the same contents,
/// as far as its inode can tell.
bool SameVersion(const struct stat& a, const struct stat& b) {
  return SameInode(a, b) && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Pairs of file systems (source, destination) between which FICLONE failed
// for want of support: it is not tried again between them, which saves a
// failing call per file where nothing can be cloned (ext4, tmpfs).
std::set<std::pair<dev_t, dev_t>>* g_no_clone =
    new std::set<std::pair<dev_t, dev_t>>;

bool MayClone(dev_t from, dev_t to) {
  return g_no_clone->count({from, to}) == 0;
}

void NoteCloneFailed(dev_t from, dev_t to, int err) {
  // Other errors (EINVAL on btrfs for files with different checksum flags)
  // are the file's, not the file system's.
  if (err != EOPNOTSUPP && err != ENOTTY && err != EXDEV && err != ENOSYS)
    return;
  g_no_clone->emplace(from, to);
}

}  // namespace

off_t FileSizeLimit() {
  rlimit r;
  if (getrlimit(RLIMIT_FSIZE, &r) != 0 || r.rlim_cur == RLIM_INFINITY ||
      r.rlim_cur > static_cast<rlim_t>(INT64_MAX))
    return static_cast<off_t>(INT64_MAX);
  return static_cast<off_t>(r.rlim_cur);
}

const ProcessIds& ProcessIds::Current() {
  static const ProcessIds ids = [] {
    ProcessIds ids;
    ids.uid = geteuid();
    ids.gid = getegid();
    // Root may give files away; where it may not after all (some owners in
    // a user namespace), fchown fails and the copy is made in place.
    ids.may_chown = ids.uid == 0;
    return ids;
  }();
  return ids;
}

gid_t NewFileGroup(const struct stat& dir, const ProcessIds& ids) {
  return (dir.st_mode & S_ISGID) ? dir.st_gid : ids.gid;
}

bool WritesInPlace(const struct stat& old) {
  return S_ISREG(old.st_mode) && old.st_nlink > 1;
}

bool KeepsWhatItWas(const struct stat& got, const struct stat& old,
                    mode_t wanted, bool mode_refused) {
  const mode_t mode = got.st_mode & 0777;
  return got.st_uid == old.st_uid && got.st_gid == old.st_gid &&
         (mode == wanted || (mode_refused && mode == (old.st_mode & 0777)));
}

void RemoveLeftovers(int dir_fd, const std::string& dir,
                     std::vector<std::string>* notes) {
  // A descriptor of its own, read from the start: `dir_fd` stays as it is.
  ScopedFd fd(openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    notes->push_back(UnixError("open", dir, errno));
    return;
  }
  std::vector<std::pair<std::string, unsigned char>> candidates;
  ReadDirectory(fd.get(), [&](const char* name, unsigned char type) {
    if (IsTemporaryName(name)) candidates.emplace_back(name, type);
  });
  fd.reset();
  for (const auto& [name, type] : candidates) {
    struct stat st;
    if (type != DT_REG &&
        (type != DT_UNKNOWN ||
         fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
         !S_ISREG(st.st_mode)))
      continue;
    std::string path = JoinPath(dir, name);
    if (unlinkat(dir_fd, name.c_str(), 0) == 0)
      notes->push_back("removed " + path + ", left by an interrupted run");
    else if (errno != ENOENT)
      notes->push_back(UnixError("unlink", path, errno));
  }
}

std::shared_ptr<HostDir> OpenHostDir(const std::string& path,
                                     std::string* error) {
  auto dir = std::make_shared<HostDir>();
  dir->path = path;
  dir->fd.reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir->fd.get() < 0) {
    Fail("open", path, errno, error);
    return nullptr;
  }
  if (fstat(dir->fd.get(), &dir->st) != 0) {
    Fail("fstat", path, errno, error);
    return nullptr;
  }
  // Without a default ACL, a new file's permission bits are those asked for
  // less the umask, and need no fchmod when they are the ones wanted.
  if (fgetxattr(dir->fd.get(), "system.posix_acl_default", nullptr, 0) < 0 &&
      (errno == ENODATA || errno == EOPNOTSUPP))
    dir->default_acl = false;
  return dir;
}

PreparedCopy::~PreparedCopy() {
  if (!temp_name_.empty()) unlinkat(dir_fd(), temp_name_.c_str(), 0);
}

bool PreparedCopy::Open(const std::string& source, const std::string& dest,
                        std::shared_ptr<const HostDir> dir,
                        std::string* error) {
  source_ = source;
  dest_ = dest;
  in_.reset(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in_.get() < 0) return Fail("open", source, errno, error);
  if (fstat(in_.get(), &source_st_) != 0)
    return Fail("fstat", source, errno, error);
  if (S_ISDIR(source_st_.st_mode)) return Fail("read", source, EISDIR, error);

  size_t slash = dest.rfind('/');
  name_ = slash == std::string::npos ? dest : dest.substr(slash + 1);
  if (name_.empty()) return Fail("open", dest, EISDIR, error);
  if (!dir) dir = OpenHostDir(ParentPath(dest), error);
  dir_ = std::move(dir);
  return dir_ != nullptr;
}

bool PreparedCopy::Open(const std::string& source, const std::string& dest,
                        bool check_dest, std::string* error) {
  return Open(source, dest, nullptr, error) &&
         LookAtDest(nullptr, check_dest, error);
}

bool PreparedCopy::CheckDest(const DestLook* look, std::string* error) {
  return LookAtDest(look, true, error);
}

bool PreparedCopy::LookAtDest(const DestLook* look, bool refuse,
                              std::string* error) {
  in_place_ = false;
  if (look) {
    has_dest_ = look->exists;
    if (has_dest_) dest_st_ = look->st;
  } else {
    has_dest_ =
        fstatat(dir_fd(), name_.c_str(), &dest_st_, AT_SYMLINK_NOFOLLOW) == 0;
    if (!has_dest_ && errno != ENOENT && refuse)
      return Fail("fstatat", dest_, errno, error);
  }
  if (!has_dest_) return true;
  const ProcessIds& ids = ProcessIds::Current();
  if (refuse) {
    if (S_ISDIR(dest_st_.st_mode)) return Fail("open", dest_, EISDIR, error);
    // Root would be let through by POSIX, so the rule is ours to keep.
    if (S_ISREG(dest_st_.st_mode) && (dest_st_.st_mode & 0222) == 0)
      return Fail("open", dest_, EACCES, error);
    // Windows refuses to replace a file that may not be written, though its
    // folder may be: so does a copy here, whichever way it is made. The
    // owner's permission is the owner's bits, which no ACL narrows: where
    // those allow writing, asking the kernel (faccessat) is left out, one
    // call less per file of one's own. A read-only file system or an
    // immutable file then fails the copy when it is made.
    bool owner_may_write =
        dest_st_.st_uid == ids.uid && (dest_st_.st_mode & S_IWUSR) != 0;
    if (!S_ISLNK(dest_st_.st_mode) && !owner_may_write &&
        faccessat(dir_fd(), name_.c_str(), W_OK, AT_EACCESS) != 0)
      return Fail("faccessat", dest_, errno, error);
  }
  in_place_ = WritesInPlace(dest_st_);
  return true;
}

mode_t PreparedCopy::WantedMode() const {
  // The new file takes the old one's place, so it is given the old one's
  // permission bits; a new destination gets the default ones. Windows gives
  // a copy the source's read-only attribute.
  mode_t mode = has_dest_ && S_ISREG(dest_st_.st_mode) ? dest_st_.st_mode & 0777
                                                       : 0666 & ~ProcessUmask();
  if ((source_st_.st_mode & 0222) == 0) mode &= ~0222;
  return mode;
}

bool PreparedCopy::Create(bool named_fallback, std::string* error) {
  create_refused_ = false;
  // An unnamed file is made with the permission bits it is to have, as far
  // as they are known now: where they still are at Commit() it needs no
  // fchmod, one call less per file. A named one stays private until then.
  const mode_t umask_bits = ProcessUmask();
  auto made_with = [&](mode_t mode) {
    created_mode_ =
        dir_->default_acl ? static_cast<mode_t>(-1) : mode & ~umask_bits;
  };
  if (g_unnamed_temporaries && CanNameUnnamedFiles()) {
    label_ = dir() + " (O_TMPFILE)";
    mode_t mode = WantedMode();
    out_.reset(openat(dir_fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (out_.get() >= 0) {
      made_with(mode);
      return true;
    }
    // Kernels without O_TMPFILE see O_DIRECTORY: EISDIR.
    if ((errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) ||
        !named_fallback) {
      create_refused_ = errno == EACCES || errno == EPERM;
      return Fail("open", label_, errno, error);
    }
  } else if (!named_fallback) {
    return Fail("open", dir() + " (O_TMPFILE)", EOPNOTSUPP, error);
  }
  for (int attempt = 0;; ++attempt) {
    std::string temp = TempName(name_);
    label_ = JoinPath(dir(), temp);
    out_.reset(openat(dir_fd(), temp.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out_.get() >= 0) {
      temp_name_ = temp;
      made_with(0600);
      return true;
    }
    if (errno != EEXIST || attempt == 100) {
      create_refused_ = errno == EACCES || errno == EPERM;
      return Fail("open", label_, errno, error);
    }
  }
}

bool PreparedCopy::CopyData(dev_t out_dev, off_t* copied, std::string* error) {
  // Where the file system can share blocks (btrfs, XFS), a clone copies no
  // data at all: 0.027 s for 1 GiB on XFS. Anywhere else it fails at once,
  // and the copy follows.
  if (MayClone(source_st_.st_dev, out_dev)) {
    if (ioctl(out_.get(), FICLONE, in_.get()) == 0) {
      *copied = source_st_.st_size;
      return true;
    }
    NoteCloneFailed(source_st_.st_dev, out_dev, errno);
  }
  // A regular file is copied up to the size fstat gave when it was opened,
  // so that a small file takes one copy_file_range, not a second one that
  // finds the end: one call less per file. A file that shrinks meanwhile
  // ends where its data ends; one that grows is copied as it was. Files
  // whose size says nothing (0 in /proc) are copied to their end.
  const off_t size = source_st_.st_size;
  const bool sized = S_ISREG(source_st_.st_mode) && size > 0;
  auto left = [&](size_t most) {
    return sized ? static_cast<size_t>(std::min<off_t>(size - *copied, most))
                 : most;
  };
  *copied = 0;
  for (;;) {
    if (sized && *copied >= size) return true;
    ssize_t n = copy_file_range(in_.get(), nullptr, out_.get(), nullptr,
                                left(1 << 30), 0);
    if (n == 0) return true;
    if (n > 0) *copied += n;
    if (n > 0 || errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
        errno == EINVAL)
      break;
    return Fail("copy_file_range", source_ + ", " + label_, errno, error);
  }
  char buf[64 * 1024];
  for (;;) {
    if (sized && *copied >= size) return true;
    ssize_t n = read(in_.get(), buf, left(sizeof buf));
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail("read", source_, errno, error);
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t written = write(out_.get(), buf + done, n - done);
      if (written < 0 && errno != EINTR)
        return Fail("write", label_, errno, error);
      if (written > 0) done += written;
    }
    *copied += n;
  }
}

bool PreparedCopy::Write(bool named_fallback, std::string* error) {
  off_t copied;
  if (!Create(named_fallback, error) ||
      !CopyData(dir_->st.st_dev, &copied, error))
    return false;
  in_.reset();
  // A mount that gives every file its own owner lets no one else set a
  // time (exfat-fuse for a user): the file keeps the time of the write.
  const timespec times[2] = {{0, UTIME_OMIT}, source_st_.st_mtim};
  if (futimens(out_.get(), times) != 0 && errno != EPERM)
    return Fail("futimens", label_, errno, error);
  written_ = true;
  return true;
}

bool PreparedCopy::Sync(std::string* error) {
  if (fsync(out_.get()) != 0) return Fail("fsync", label_, errno, error);
  return true;
}

bool PreparedCopy::SourceIsCurrent(const std::string& source) const {
  struct stat src;
  return stat(source.c_str(), &src) == 0 && SameVersion(src, source_st_);
}

PreparedCopy::Outcome PreparedCopy::Commit(std::string* error) {
  // The new file takes the old one's place, so it is given what the old one
  // had: its owner and group, and its permission bits (WantedMode). A new
  // destination made by root in a folder of another user gets the folder's
  // owner and group: the game runs as that user, who may then replace it.
  const ProcessIds& ids = ProcessIds::Current();
  const bool replaces = has_dest_ && S_ISREG(dest_st_.st_mode);
  const gid_t new_gid = NewFileGroup(dir_->st, ids);
  uid_t uid = ids.uid;
  gid_t gid = new_gid;
  if (replaces) {
    uid = dest_st_.st_uid;
    gid = dest_st_.st_gid;
  } else if (ids.may_chown && dir_->st.st_uid != ids.uid) {
    uid = dir_->st.st_uid;
    gid = dir_->st.st_gid;
  }
  bool refused = false;  // a change the file system did not make
  if (uid != ids.uid || gid != new_gid) {
    if (fchown(out_.get(), uid != ids.uid ? uid : static_cast<uid_t>(-1),
               gid != new_gid ? gid : static_cast<gid_t>(-1)) == 0) {
      gave_dir_owner_ = !replaces;
    } else if (FileSystemDecides(errno) || errno == EINVAL) {
      refused = true;
    } else {
      Fail("fchown", label_, errno, error);
      return Outcome::kFailed;
    }
  }
  const mode_t mode = WantedMode();
  bool mode_refused = false;
  if (mode != created_mode_ && fchmod(out_.get(), mode) != 0) {
    if (!FileSystemDecides(errno)) {
      Fail("fchmod", label_, errno, error);
      return Outcome::kFailed;
    }
    refused = mode_refused = true;
  }
  // Whether the new file is all the old one was is seen, not foreseen: a
  // mount may give every file one owner and mode (ntfs-3g, exfat-fuse), the
  // old file's too. Once a new file in a folder has been exactly what it
  // was made, later ones there whose every change was made are taken to be
  // too: one fstat per folder and batch rather than one per file.
  if (replaces && (refused || !dir_->as_made)) {
    struct stat got;
    if (fstat(out_.get(), &got) != 0) {
      Fail("fstat", label_, errno, error);
      return Outcome::kFailed;
    }
    if (!KeepsWhatItWas(got, dest_st_, mode, mode_refused))
      return Outcome::kInPlace;
    if (!refused) dir_->as_made = true;
  }

  if (temp_name_.empty()) {
    std::string proc = "/proc/self/fd/" + std::to_string(out_.get());
    // A new destination gets its name at once: no second name exists at any
    // moment, so a crash cannot leave one. Its data is on disk already.
    if (!has_dest_) {
      if (linkat(AT_FDCWD, proc.c_str(), dir_fd(), name_.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
        out_.reset();
        return Outcome::kDone;
      }
      if (errno != EEXIST) {
        Fail("linkat", proc + ", " + dest_, errno, error);
        return Outcome::kFailed;
      }
    }
    // An existing destination is replaced by a rename: the new file needs a
    // name of its own first. Killed between the two, the run leaves that
    // name, which the next run removes (RemoveLeftovers).
    for (int attempt = 0;; ++attempt) {
      std::string temp = TempName(name_);
      if (linkat(AT_FDCWD, proc.c_str(), dir_fd(), temp.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
        temp_name_ = temp;
        break;
      }
      if (errno != EEXIST || attempt == 100) {
        Fail("linkat", proc + ", " + JoinPath(dir(), temp), errno, error);
        return Outcome::kFailed;
      }
    }
  }
  std::string temp_path = JoinPath(dir(), temp_name_);
  if (out_.Close() != 0) {
    Fail("close", temp_path, errno, error);
    return Outcome::kFailed;
  }
  if (renameat(dir_fd(), temp_name_.c_str(), dir_fd(), name_.c_str()) != 0) {
    Fail("rename", temp_path + ", " + dest_, errno, error);
    return Outcome::kFailed;
  }
  temp_name_.clear();
  return Outcome::kDone;
}

void PreparedCopy::DropNewFile() {
  if (!temp_name_.empty()) unlinkat(dir_fd(), temp_name_.c_str(), 0);
  temp_name_.clear();
  out_.reset();
  written_ = false;
}

bool PreparedCopy::WriteInPlace(std::string* error) {
  DropNewFile();
  in_place_ = true;
  if (in_.get() < 0) {
    in_.reset(open(source_.c_str(), O_RDONLY | O_CLOEXEC));
    if (in_.get() < 0) return Fail("open", source_, errno, error);
    if (fstat(in_.get(), &source_st_) != 0)
      return Fail("fstat", source_, errno, error);
  }
  label_ = dest_;
  // Never through a symbolic link; and should a FIFO have taken the file's
  // place since it was looked at, fail rather than wait for a reader.
  out_.reset(openat(dir_fd(), name_.c_str(),
                    O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (out_.get() < 0) return Fail("open", dest_, errno, error);

  // Want of room fails here, before the old data is touched: the file-size
  // limit (tmpfs's fallocate checks it, ext4's does not), and the blocks
  // the new data needs. Where the file system cannot reserve them, the copy
  // goes on without; where it writes changed blocks elsewhere (btrfs), a
  // write may still find the disk full.
  off_t size = source_st_.st_size;
  if (size > FileSizeLimit()) return Fail("write", dest_, EFBIG, error);
  if (size > 0 && fallocate(out_.get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0) {
    if (errno != EOPNOTSUPP && errno != ENOSYS)
      return Fail("fallocate", dest_, errno, error);
    // It cannot reserve (ntfs-3g, exfat-fuse, fusefat): the free space
    // decides, so that a full disk still fails before the old data goes.
    struct stat now;
    if (fstat(out_.get(), &now) != 0) return Fail("fstat", dest_, errno, error);
    if (!HasRoomFor(out_.get(), now, size))
      return Fail("write", dest_, ENOSPC, error);
  }

  off_t copied;
  if (!CopyData(dest_st_.st_dev, &copied, error)) return false;
  in_.reset();
  if (ftruncate(out_.get(), copied) != 0)
    return Fail("ftruncate", dest_, errno, error);
  // Only the owner may set a time other than now, or take the write
  // permissions away (a read-only source makes a read-only copy on
  // Windows). A file of another owner, written as a member of its group,
  // keeps the time of the write rather than fail a copy that is made.
  // A file system that stores no permission bits, or decides them for
  // every file, keeps the ones it has.
  const ProcessIds& ids = ProcessIds::Current();
  bool owner = dest_st_.st_uid == ids.uid || ids.may_chown;
  const timespec times[2] = {{0, UTIME_OMIT}, source_st_.st_mtim};
  if (futimens(out_.get(), times) != 0 && !FileSystemDecides(errno))
    return Fail("futimens", dest_, errno, error);
  mode_t mode = dest_st_.st_mode & 0777;
  if ((source_st_.st_mode & 0222) == 0 && (mode & 0222) != 0 && owner &&
      fchmod(out_.get(), mode & ~0222) != 0 && !FileSystemDecides(errno))
    return Fail("fchmod", dest_, errno, error);
  if (fsync(out_.get()) != 0) return Fail("fsync", dest_, errno, error);
  if (out_.Close() != 0) return Fail("close", dest_, errno, error);
  return true;
}

bool PreparedCopy::Finish(std::string* error) {
  if (!in_place_) {
    bool made = written_;
    if (!made) {
      made = Write(true, error) && Sync(error);
      // A folder that refuses new files does not stop a copy into a file
      // that may be written.
      bool refused = create_refused_ && has_dest_ && S_ISREG(dest_st_.st_mode);
      if (!made && !refused) return false;
    }
    if (made) {
      Outcome outcome = Commit(error);
      if (outcome != Outcome::kInPlace) return outcome == Outcome::kDone;
    }
    error->clear();
  }
  return WriteInPlace(error);
}

bool CopyHostFile(const std::string& source, const std::string& dest,
                  std::string* error) {
  // The data reaches the disk before the rename makes it the destination:
  // after a crash the destination is then the old file or the whole new one,
  // never a new name over missing data.
  PreparedCopy copy;
  return copy.Open(source, dest, true, error) && copy.Finish(error);
}

void SetUnnamedTemporariesForTesting(bool enabled) {
  g_unnamed_temporaries = enabled;
}

}  // namespace patcher
