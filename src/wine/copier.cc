// The copies of a whole patch: written ahead, flushed in batches, into folders
// kept open.

#include "wine/copier.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "posix/files.h"
#include "posix/scoped_fd.h"
#include "posix/unix_error.h"
#include "wine/copy.h"

namespace patcher {

namespace {

// A batch: at most this many files, and this many bytes, written ahead.
// 256 files rather than 64 took a patch of 20,000 files of 4 KiB from 3.5 s
// to 2.9 s (one syncfs per batch; ext4, rough timings).
constexpr size_t kMaxPending = 256;
constexpr uint64_t kMaxPendingBytes = 64 << 20;
// From this size on, a file written ahead is sent to the disk at once
// (sync_file_range), while the next ones are written: the syncfs of the
// batch then has less to wait for. 2,000 files of 512 KiB took about 1.3 s
// with it, 1.7 s without (ext4, rough timings; cp and sync took 1.3 s).
constexpr uint64_t kEarlyWriteback = 256 << 10;

// Directories kept open: a quarter of the descriptors the process may
// have, between 16 and 1024, so that a patch going round a few hundred
// folders (bench/run.sh's small workload: 200) opens each of them once.
size_t MaxDirs() {
  rlimit r;
  rlim_t soft = getrlimit(RLIMIT_NOFILE, &r) == 0 ? r.rlim_cur : 1024;
  return static_cast<size_t>(std::clamp<rlim_t>(soft / 4, 16, 1024));
}

}  // namespace

// A copy announced and not yet made: opened ahead, and its data written
// ahead when `written`.
struct HostCopier::Pending {
  std::string source;
  std::string dest;
  std::unique_ptr<PreparedCopy> prepared;  // null unless opened ahead
  bool written = false;
  uint64_t bytes = 0;  // of data written ahead
  bool flushed = false;
  int flush_error = 0;     // errno of its flush, or 0
  bool check_dir = false;  // whether its directory's path is to be checked
};

HostCopier::HostCopier(HostPaths* paths) : paths_(paths) {}
HostCopier::~HostCopier() = default;

// Writing ahead halves the time of a patch of many small files: 20,000
// files of 4 KiB took 4.1 s with it and 8.3 s with every copy made at its
// turn and flushed on its own (bench/run.sh, ext4).
void HostCopier::Announce(const std::string& source, const std::string& dest) {
  auto pending = std::make_unique<Pending>();
  pending->source = source;
  pending->dest = dest;
  pending_.push_back(std::move(pending));
  WriteAhead();
}

std::shared_ptr<const HostDir> HostCopier::DirOf(const std::string& dest) {
  // Opened once while copies go on rather than once per file: an open, an
  // fstat and a close saved per file where a folder gets many of them.
  std::string path = ParentPath(dest);
  auto it = dirs_.find(path);
  if (it == dirs_.end()) {
    std::string error;  // reported by the copy, which tries again
    std::shared_ptr<const HostDir> dir = OpenHostDir(path, &error);
    if (!dir) return nullptr;
    if (max_dirs_ == 0) max_dirs_ = MaxDirs();
    if (dirs_.size() >= max_dirs_) {
      auto oldest = dirs_.begin();
      for (auto i = dirs_.begin(); i != dirs_.end(); ++i) {
        if (i->second.used < oldest->second.used) oldest = i;
      }
      dirs_.erase(oldest);
    }
    it = dirs_.emplace(path, OpenDir{std::move(dir), 0}).first;
  }
  it->second.used = ++clock_;
  return it->second.dir;
}

void HostCopier::WriteAhead() {
  // In the order announced, as far as the batch has room: a copy that does
  // not fit waits, opened, until copies before it are made. Failures are
  // dropped here: Copy() does the whole copy again and reports what fails
  // then. The destination is not looked at: it may still change before its
  // turn, and a look now would cost every file a call.
  while (tried_ < pending_.size() && written_count_ < kMaxPending) {
    Pending* pending = pending_[tried_].get();
    std::string error;
    if (!pending->prepared) {
      if (pending->source.empty()) {
        ++tried_;
        continue;
      }
      auto copy = std::make_unique<PreparedCopy>();
      if (!copy->Open(pending->source, pending->dest, DirOf(pending->dest),
                      &error)) {
        ++tried_;
        continue;
      }
      const struct stat& src = copy->source_stat();
      // A file beyond the file-size limit (ulimit -f) fails, or kills the
      // process, when written: at its own turn, and in place before the old
      // data is touched, not ahead of the copies before it.
      if (size_limit_ < 0) size_limit_ = FileSizeLimit();
      if (!S_ISREG(src.st_mode) ||
          static_cast<uint64_t>(src.st_size) > kMaxPendingBytes ||
          src.st_size > size_limit_) {
        ++tried_;
        continue;
      }
      pending->prepared = std::move(copy);
    }
    PreparedCopy* copy = pending->prepared.get();
    uint64_t size = static_cast<uint64_t>(copy->source_stat().st_size);
    if (pending_bytes_ + size > kMaxPendingBytes) return;
    ++tried_;
    // Files written ahead must never be what leaves a copy without room.
    // The free space is looked at once per batch: what the batch writes
    // ahead is counted off it.
    dev_t dev = copy->dir_stat().st_dev;
    auto room = room_.find(dev);
    if (room == room_.end()) {
      struct statvfs fs;
      uint64_t free_bytes =
          fstatvfs(copy->dir_fd(), &fs) == 0
              ? static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize
              : 0;
      room = room_.emplace(dev, free_bytes).first;
    }
    // Only an unnamed file: a named one would be left behind by a crash.
    if (room->second < 2 * kMaxPendingBytes + size ||
        !copy->Write(false, &error)) {
      pending->prepared.reset();
      continue;
    }
    if (size >= kEarlyWriteback)
      sync_file_range(copy->fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    room->second -= size;
    pending->written = true;
    pending->bytes = size;
    pending_bytes_ += size;
    ++written_count_;
  }
}

std::unique_ptr<HostCopier::Pending> HostCopier::TakeFirst() {
  if (pending_.empty()) return nullptr;
  std::unique_ptr<Pending> first = std::move(pending_.front());
  pending_.pop_front();
  if (tried_ > 0) --tried_;
  if (first->written) {
    pending_bytes_ -= first->bytes;
    --written_count_;
  }
  return first;
}

bool HostCopier::Copy(const std::string& source, const std::string& dest,
                      std::string* error, const DestLook* look) {
  std::unique_ptr<Pending> first = TakeFirst();
  bool copied = CopyOne(first.get(), source, dest, look, error);
  first.reset();
  WriteAhead();
  if (pending_.empty()) {
    std::string sync_error;
    if (!EndBatch(&sync_error) && copied) {
      *error = sync_error;
      copied = false;
    }
  }
  return copied;
}

void HostCopier::Skip() {
  TakeFirst();
  WriteAhead();
  std::string error;  // the copy fails anyway, for its own reason
  if (pending_.empty()) EndBatch(&error);
}

void HostCopier::ForgetDirs() {
  dirs_.clear();
  for (const std::unique_ptr<Pending>& pending : pending_)
    pending->check_dir = true;
}

bool HostCopier::CopyOne(Pending* pending, const std::string& source,
                         const std::string& dest, const DestLook* look,
                         std::string* error) {
  // The data written ahead is used while its source is the file it was made
  // from, and its directory the one the path names (the run never renames
  // directories; after a wait it is checked). The destination is looked at
  // now: the run may have changed it since.
  std::unique_ptr<PreparedCopy> copy;
  PreparedCopy* ahead = pending ? pending->prepared.get() : nullptr;
  struct stat dir;
  if (ahead && pending->source == source && pending->dest == dest &&
      ahead->SourceIsCurrent(source) &&
      (!pending->check_dir || (stat(ahead->dir().c_str(), &dir) == 0 &&
                               dir.st_dev == ahead->dir_stat().st_dev &&
                               dir.st_ino == ahead->dir_stat().st_ino))) {
    if (!ahead->CheckDest(look, error)) return false;
    if (pending->written && !ahead->in_place()) {
      if (!pending->flushed) Flush(pending);
      if (pending->flush_error != 0)
        return Fail("fsync", ahead->label(), pending->flush_error, error);
    }
    copy = std::move(pending->prepared);
  } else {
    copy = std::make_unique<PreparedCopy>();
    if (!copy->Open(source, dest, DirOf(dest), error) ||
        !copy->CheckDest(look, error))
      return false;
  }
  SweepDir(*copy);
  if (!copy->Finish(error)) return false;
  NoteMade(*copy);
  if (copy->gave_dir_owner() && !told_dir_owner_) {
    const struct stat& dir = copy->dir_stat();
    notes_.push_back(
        "run as root: new files are given the owner and group of "
        "their folder, such as " +
        std::to_string(dir.st_uid) + ":" + std::to_string(dir.st_gid) +
        " for " + copy->dir() + ", so that the game's user may replace them");
    told_dir_owner_ = true;
  }
  // A file written in place was flushed on its own.
  if (!copy->in_place())
    renamed_dirs_.emplace(copy->dir_stat().st_dev, copy->host_dir());
  return true;
}

void HostCopier::NoteMade(const PreparedCopy& copy) {
  if (!copy.has_dest()) {
    if (paths_) paths_->NoteCreated(copy.dir_stat(), copy.name());
  } else if (S_ISLNK(copy.dest_stat().st_mode)) {
    // A symbolic link, replaced by a file, may have been a folder in other
    // paths: nothing known of paths, folders or data written ahead for them
    // holds any longer.
    if (paths_) paths_->Forget();
    dirs_.clear();
    for (const std::unique_ptr<Pending>& pending : pending_) {
      pending->prepared.reset();
      pending->written = false;
      pending->bytes = 0;
    }
    pending_bytes_ = 0;
    written_count_ = 0;
    tried_ = pending_.size();
  }
}

void HostCopier::SweepDir(const PreparedCopy& copy) {
  if (!remove_leftovers_) return;
  const struct stat& dir = copy.dir_stat();
  if (!swept_dirs_.emplace(dir.st_dev, dir.st_ino).second) return;
  size_t notes = notes_.size();
  RemoveLeftovers(copy.dir_fd(), copy.dir(), &notes_);
  if (paths_ && notes_.size() != notes) paths_->NoteRemoved(dir);
}

std::vector<std::string> HostCopier::TakeNotes() {
  return std::exchange(notes_, {});
}

void HostCopier::Flush(Pending* first) {
  std::vector<Pending*> batch = {first};
  for (const std::unique_ptr<Pending>& pending : pending_) {
    if (pending->written && !pending->flushed) batch.push_back(pending.get());
  }
  // One syncfs puts the data of the whole batch on disk with one journal
  // commit and one flush of the disk's cache, where an fsync per file would
  // flush that cache once per file: for 5,000 files of 4 KiB an fsync each
  // took 1.8 times as long as no flush at all, a syncfs per batch 0.8 times
  // (bench/run.sh, durability, ext4). Where it fails, each file gets an fsync
  // of its own, which tells which of them could not be written.
  std::map<dev_t, int> synced;  // file system -> errno of its syncfs, or 0
  for (Pending* pending : batch) {
    PreparedCopy* copy = pending->prepared.get();
    dev_t dev = copy->dir_stat().st_dev;
    auto it = synced.find(dev);
    if (it == synced.end())
      it = synced.emplace(dev, syncfs(copy->dir_fd()) == 0 ? 0 : errno).first;
    if (it->second != 0 && fsync(copy->fd()) != 0) pending->flush_error = errno;
    pending->flushed = true;
  }
  room_.clear();
}

bool HostCopier::EndBatch(std::string* error) {
  bool synced = true;
  for (const auto& [dev, dir] : renamed_dirs_) {
    if (syncfs(dir->fd.get()) != 0) {
      if (synced) Fail("syncfs", dir->path, errno, error);
      synced = false;
    }
  }
  renamed_dirs_.clear();
  dirs_.clear();
  room_.clear();
  return synced;
}

}  // namespace patcher
