// Copies of a whole patch, made as CopyHostFile makes one, with the data of
// copies announced ahead written early and put on disk in batches.

#ifndef PATCHER_WINE_COPIER_H_
#define PATCHER_WINE_COPIER_H_

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "wine/copy.h"
#include "wine/host_path.h"

namespace patcher {

/// Copies files as CopyHostFile does, and does the work of copies announced
/// ahead early and in batches: the data of up to 256 files (64 MiB) goes to
/// unnamed files beside their destinations as they are announced, and one
/// syncfs puts all of it on disk, so that a patch of many small files waits
/// for the disk once per batch rather than once per file. Every file's data
/// is still on disk before the rename that makes it the destination, so a
/// crash leaves the old file or the whole new one. Nothing written ahead is
/// visible before its Copy(), and a process killed earlier leaves nothing
/// behind; where the file system has no unnamed files, nothing is written
/// ahead. A destination is looked at when its copy is made, not before:
/// what was written ahead for one that is then written in place is dropped.
/// A syncfs also writes out what other programs left unwritten on that file
/// system.
///
/// The directories copied into are opened once and kept open while copies
/// are announced (up to a quarter of the process's descriptors). Before its
/// first copy into a directory, the copier removes the temporaries that an
/// interrupted run left there (RemoveLeftovers), unless told not to, and
/// keeps a note of each. It also keeps a note, once, when it gives new files
/// the owner of their folder (PreparedCopy::gave_dir_owner). What it does to
/// names is told to `paths`, when not null, so that the paths it maps stay
/// true.
class HostCopier {
 public:
  explicit HostCopier(HostPaths* paths = nullptr);
  ~HostCopier();
  HostCopier(const HostCopier&) = delete;
  HostCopier& operator=(const HostCopier&) = delete;

  /// Announces a copy that will be made after the copies announced before
  /// it, and may write its data ahead. Empty paths announce a copy that will
  /// fail before it reaches Copy() (see Skip).
  void Announce(const std::string& source, const std::string& dest);

  /// Makes the copy announced first and not yet made, or an unannounced one
  /// when none is waiting. Copies `source` to `dest` with the checks,
  /// results and error texts of CopyHostFile; `look`, when not null, is an
  /// lstat of `dest` that the caller took just before (see
  /// PreparedCopy::CheckDest). The data written ahead is used when the paths
  /// are the announced ones and the source is still the file it was then;
  /// otherwise it copies afresh. When no announced copy is left, it also
  /// flushes the file systems of every copy made since the last such flush,
  /// so that their new names are on disk too; a failure of that fails this
  /// copy. Returns true on success; on failure false with `*error` set.
  bool Copy(const std::string& source, const std::string& dest,
            std::string* error, const DestLook* look = nullptr);

  /// Drops the copy announced first and not yet made, because it failed
  /// before Copy(); flushes as Copy() does when it was the last announced.
  void Skip();

  /// Closes the directories kept open, after a wait: copies written ahead
  /// into them are used only if their directory's path still names it.
  void ForgetDirs();

  /// Sets whether leftovers are removed (they are unless set otherwise):
  /// only a run that no other may be running beside may remove them, or it
  /// could take another run's temporary in flight for one.
  void set_remove_leftovers(bool remove) { remove_leftovers_ = remove; }

  /// Returns the notes kept since the last call (what RemoveLeftovers
  /// removed or could not), one line each, and forgets them.
  std::vector<std::string> TakeNotes();

 private:
  struct Pending;
  struct OpenDir {
    std::shared_ptr<const HostDir> dir;
    uint64_t used = 0;
  };

  /// Takes the first announced copy off the queue; empty when none waits.
  std::unique_ptr<Pending> TakeFirst();
  /// Writes ahead the data of the copies announced and not yet tried, as
  /// far as the batch and the disk allow.
  void WriteAhead();
  /// Returns the directory of `dest`, open; null when it cannot be opened.
  std::shared_ptr<const HostDir> DirOf(const std::string& dest);
  /// Makes one copy, with the data `pending` wrote ahead where it is usable.
  bool CopyOne(Pending* pending, const std::string& source,
               const std::string& dest, const DestLook* look,
               std::string* error);
  /// Tells what `copy` did to names, when it has been made.
  void NoteMade(const PreparedCopy& copy);
  /// Flushes `first` and every file written ahead and not yet flushed.
  void Flush(Pending* first);
  /// Removes leftovers in the directory of `copy` unless done before.
  void SweepDir(const PreparedCopy& copy);
  /// Flushes the file systems in renamed_dirs_ and forgets them, and what
  /// is kept for a batch. Returns false with `*error` set if one could not
  /// be flushed.
  bool EndBatch(std::string* error);

  HostPaths* paths_;
  std::deque<std::unique_ptr<Pending>> pending_;  // announced, not yet made
  size_t tried_ = 0;  // those before it have been tried for writing ahead
  size_t written_count_ = 0;             // of those, written ahead
  uint64_t pending_bytes_ = 0;           // their data
  std::map<std::string, OpenDir> dirs_;  // by path
  size_t max_dirs_ = 0;                  // kept open at most
  uint64_t clock_ = 0;                   // ticks at each use of dirs_
  // Bytes free on each file system when last looked at, less what was
  // written ahead since; looked at again after each flush.
  std::map<dev_t, uint64_t> room_;
  off_t size_limit_ = -1;  // the file-size limit, once read
  // File systems with new names not yet flushed, each with a directory.
  std::map<dev_t, std::shared_ptr<const HostDir>> renamed_dirs_;
  std::set<std::pair<dev_t, ino_t>> swept_dirs_;  // by RemoveLeftovers
  std::vector<std::string> notes_;
  bool remove_leftovers_ = true;
  bool told_dir_owner_ = false;
};

}  // namespace patcher

#endif  // PATCHER_WINE_COPIER_H_
