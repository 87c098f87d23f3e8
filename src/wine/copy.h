// Copying one file into a Wine prefix as CopyFileA(source, dest, FALSE)
// does: the destination ends with the source's data and modification time,
// and otherwise stays the file it was (owner, group, permission bits, other
// hard links). Where a new file can carry all that, the data goes to a new
// file beside the destination, reaches the disk, and only then is renamed
// over the destination, so that a crash leaves the old file or the whole new
// one; otherwise the data is written into the destination itself.

#ifndef PATCHER_WINE_COPY_H_
#define PATCHER_WINE_COPY_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "posix/scoped_fd.h"

namespace patcher {

/// Copies the file `source` to `dest` as CopyFileA(source, dest, FALSE)
/// does. An existing regular file at `dest` keeps its owner, group,
/// permission bits and other names; it loses its write permission when the
/// source has none. It is replaced by a new file renamed over it
/// (atomically: a crash leaves the old file or the whole new one) when the
/// new file, given the old one's owner, group and bits, has them as
/// KeepsWhatItWas tells and the old file has one name (WritesInPlace); else
/// it is written in place: the space is reserved first, or where it cannot
/// be, the free space is looked at, so that a full disk fails before the
/// old data is touched, but a crash or a failed write in the middle leaves
/// it part-written. A new destination, or one that is not a regular file,
/// gets a new file with the default permissions (without write permission
/// when the source has none); made by root in a folder of another user, it
/// gets that folder's owner and group. A file system that cannot store
/// permission bits, owners or times does not fail the copy. The
/// modification time is the source's where the file system keeps it. A symbolic
/// link at `dest` is replaced, never written through. Refused: a directory of
/// `dest` that does not exist, a directory at `dest`, a regular file no one may
/// write (even for root, as Windows refuses it), and an existing `dest` this
/// process may not write. Returns true on success. On failure returns false,
/// sets
/// `*error` to a text such as `open(/x/y): Permission denied`, and leaves no
/// temporary file behind; `dest` is as it was unless it was being written
/// in place. A process killed while copying may leave a temporary that
/// RemoveLeftovers knows: only between naming the new file and renaming it,
/// except on file systems without O_TMPFILE or without /proc mounted.
bool CopyHostFile(const std::string& source, const std::string& dest,
                  std::string* error);

/// The ids a process gives the files it creates, and whether it may give
/// them to anyone.
struct ProcessIds {
  uid_t uid = 0;           // effective
  gid_t gid = 0;           // effective
  bool may_chown = false;  // may give files to anyone (root)

  /// The ids of this process, read once.
  static const ProcessIds& Current();
};

/// The group a file that `ids` creates in the directory `dir` gets: the
/// directory's own when it is set-group-ID, else the process's.
gid_t NewFileGroup(const struct stat& dir, const ProcessIds& ids);

/// Tells whether the existing destination `old` is written in place whatever
/// a new file could be: when it is a regular file with more than one link
/// (the other names must see the new data). Anything but a regular file is
/// replaced.
bool WritesInPlace(const struct stat& old);

/// Tells whether a new file that fstat shows as `got`, once given the owner
/// and group of the old file `old` and the permission bits `wanted`, may
/// take its place: it has that owner, group and those bits, or, when the
/// file system refused to set bits (`mode_refused`), the old file's bits.
bool KeepsWhatItWas(const struct stat& got, const struct stat& old,
                    mode_t wanted, bool mode_refused);

/// Removes the temporaries of this program that an interrupted run left in
/// the directory `dir`, open as `dir_fd`: regular files named as
/// IsTemporaryName says. Appends to `*notes` one line for each, saying what
/// was removed or, naming the call, why it could not be.
void RemoveLeftovers(int dir_fd, const std::string& dir,
                     std::vector<std::string>* notes);

/// A directory that copies are made into, open for them.
struct HostDir {
  std::string path;
  ScopedFd fd;
  struct stat st = {};
  /// Whether a new file in it may get its permissions from a default ACL
  /// rather than from the umask.
  bool default_acl = true;
  /// Whether a new file in it has been seen to get exactly the owner, group
  /// and permission bits it was made with or given.
  mutable bool as_made = false;
};

/// Opens the directory `path` for copies into it. Returns null with `*error`
/// set, naming the call and the path, when it cannot be opened.
std::shared_ptr<HostDir> OpenHostDir(const std::string& path,
                                     std::string* error);

/// What an lstat of a destination found, taken by a caller just before the
/// copy so that the copy need not look again.
struct DestLook {
  bool exists = false;
  struct stat st = {};  // when it exists
};

/// One copy of CopyHostFile taken step by step, so that its data can be
/// written early and flushed together with other copies (HostCopier):
/// Open(), then Write() and Sync() or a flush of the whole file system, then
/// CheckDest() and Finish(). Until Finish() the new file is unseen: it has no
/// name where the file system allows (O_TMPFILE) and /proc is there to name
/// it by, else a hidden temporary name that is removed when the copy is
/// destroyed unfinished.
class PreparedCopy {
 public:
  PreparedCopy() = default;
  ~PreparedCopy();
  PreparedCopy(const PreparedCopy&) = delete;
  PreparedCopy& operator=(const PreparedCopy&) = delete;

  /// Opens `source` and takes `dir`, the directory of `dest` opened by
  /// OpenHostDir (opened here when null), after the checks that Windows
  /// makes when it opens the source. Does not look at `dest`. Returns false
  /// with `*error` set when the copy cannot be made.
  bool Open(const std::string& source, const std::string& dest,
            std::shared_ptr<const HostDir> dir, std::string* error);

  /// Opens as above, then looks at `dest`: with the checks of CheckDest()
  /// when `check_dest`, else only to know it.
  bool Open(const std::string& source, const std::string& dest, bool check_dest,
            std::string* error);

  /// Looks at the destination again, as it is now, and refuses what Windows
  /// would not open for writing: a directory, a regular file no one may
  /// write, or anything but a symbolic link that this process may not write
  /// (faccessat with its effective ids). `look`, when not null, is what an
  /// lstat of the destination found just now, taken instead of looking
  /// again. Returns true when the destination may be replaced or does not
  /// exist; false with `*error` set otherwise.
  bool CheckDest(const DestLook* look, std::string* error);
  bool CheckDest(std::string* error) { return CheckDest(nullptr, error); }

  /// Tells whether the destination, as last looked at, is to be written in
  /// place (WritesInPlace) rather than replaced by the new file; after
  /// Finish(), whether it was.
  bool in_place() const { return in_place_; }

  /// Tells whether Finish() gave the new file the owner and group of its
  /// folder (a new destination made by root in a folder of another user).
  bool gave_dir_owner() const { return gave_dir_owner_; }

  /// Makes the new file with the source's data and modification time, and
  /// closes the source. With `named_fallback` false, fails rather than give
  /// the file a name where the file system has no unnamed files. Returns
  /// false with `*error` set on failure.
  bool Write(bool named_fallback, std::string* error);

  /// Puts the new file's data on disk. Returns false with `*error` set.
  bool Sync(std::string* error);

  /// Tells whether `source` is still the file that was opened, unchanged as
  /// far as its inode tells.
  bool SourceIsCurrent(const std::string& source) const;

  /// Makes the copy, after CheckDest(): writes the destination in place
  /// where in_place() says so; otherwise writes and syncs the new file
  /// unless done before, gives it the old file's owner, group and permission
  /// bits, and renames it over the destination. A regular file is written
  /// in place after all when its directory refuses the new file or the new
  /// file does not then have what the old one had (KeepsWhatItWas). Returns
  /// false with `*error` set; the destination is then as it was, unless written
  /// in place.
  bool Finish(std::string* error);

  const struct stat& source_stat() const { return source_st_; }
  const std::shared_ptr<const HostDir>& host_dir() const { return dir_; }
  const struct stat& dir_stat() const { return dir_->st; }
  const std::string& dir() const { return dir_->path; }
  int dir_fd() const { return dir_->fd.get(); }
  /// The last name of the destination.
  const std::string& name() const { return name_; }
  /// Whether the destination existed when last looked at, and what it was.
  bool has_dest() const { return has_dest_; }
  const struct stat& dest_stat() const { return dest_st_; }
  int fd() const { return out_.get(); }
  /// Names the new file in messages.
  const std::string& label() const { return label_; }

 private:
  enum class Outcome { kDone, kFailed, kInPlace };

  bool LookAtDest(const DestLook* look, bool refuse, std::string* error);
  /// The permission bits the new file is to have, as far as known.
  mode_t WantedMode() const;
  bool Create(bool named_fallback, std::string* error);
  /// Copies the source's data into out_, which is on the file system
  /// `out_dev`; `*copied` is set to the bytes copied.
  bool CopyData(dev_t out_dev, off_t* copied, std::string* error);
  Outcome Commit(std::string* error);
  bool WriteInPlace(std::string* error);
  void DropNewFile();

  std::string source_;
  std::string dest_;
  std::string name_;  // the last name of dest_
  ScopedFd in_;
  std::shared_ptr<const HostDir> dir_;  // of dest_
  ScopedFd out_;
  struct stat source_st_ = {};
  struct stat dest_st_ = {};  // as last looked at, when has_dest_
  bool has_dest_ = false;
  bool in_place_ = false;
  bool written_ = false;         // the new file holds the data
  bool create_refused_ = false;  // the directory refused the new file
  bool gave_dir_owner_ = false;
  // The permission bits the new file was created with, when known.
  mode_t created_mode_ = static_cast<mode_t>(-1);
  std::string label_;
  std::string temp_name_;  // while the new file has a name of its own
};

/// Returns the largest file this process may write (ulimit -f).
off_t FileSizeLimit();

/// Makes copies use a named temporary, as they do on file systems without
/// O_TMPFILE, when `enabled` is false. For tests.
void SetUnnamedTemporariesForTesting(bool enabled);

}  // namespace patcher

#endif  // PATCHER_WINE_COPY_H_
