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

namespace patcher {

/// Copies files as CopyHostFile does, and does the work of copies announced
/// ahead early and in batches: the data of up to 64 files (64 MiB) goes to
/// unnamed files beside their destinations as they are announced, and one
/// syncfs puts all of it on disk, so that a patch of many small files waits
/// for the disk once per batch rather than once per file. Every file's data
/// is still on disk before the rename that makes it the destination, so a
/// crash leaves the old file or the whole new one. Nothing written ahead is
/// visible before its Copy(), and a process killed earlier leaves nothing
/// behind; where the file system has no unnamed files, nothing is written
/// ahead, and neither is a file that will be written in place. A syncfs also
/// writes out what other programs left unwritten on that file system.
///
/// Before its first copy into a directory, it removes the temporaries that
/// an interrupted run left there (RemoveLeftovers) and keeps a note of each.
class HostCopier {
 public:
  HostCopier();
  ~HostCopier();
  HostCopier(const HostCopier&) = delete;
  HostCopier& operator=(const HostCopier&) = delete;

  /// Announces a copy that will be made after the copies announced before
  /// it, and may write its data ahead. Empty paths announce a copy that will
  /// fail before it reaches Copy() (see Skip).
  void Announce(const std::string& source, const std::string& dest);

  /// Makes the copy announced first and not yet made, or an unannounced one
  /// when none is waiting. Copies `source` to `dest` with the checks,
  /// results and error texts of CopyHostFile. The data written ahead is used
  /// when the paths are the announced ones and the source and the directory
  /// of `dest` are still the files they were then; otherwise it copies
  /// afresh. When no announced copy is left, it also flushes the file
  /// systems of every copy made since the last such flush, so that their new
  /// names are on disk too; a failure of that fails this copy. Returns true
  /// on success; on failure false with `*error` set.
  bool Copy(const std::string& source, const std::string& dest,
            std::string* error);

  /// Drops the copy announced first and not yet made, because it failed
  /// before Copy(); flushes as Copy() does when it was the last announced.
  void Skip();

  /// Returns the notes kept since the last call (what RemoveLeftovers
  /// removed or could not), one line each, and forgets them.
  std::vector<std::string> TakeNotes();

 private:
  struct Pending;

  /// Takes the first announced copy off the queue; empty when none waits.
  std::unique_ptr<Pending> TakeFirst();
  /// Writes the data of `pending` ahead, when it and the disk allow.
  void WriteAhead(Pending* pending);
  /// Makes one copy, with the data `pending` wrote ahead where it is usable.
  bool CopyOne(Pending* pending, const std::string& source,
               const std::string& dest, std::string* error);
  /// Flushes `first` and every file written ahead and not yet flushed.
  void Flush(Pending* first);
  /// Removes leftovers in the directory of `copy` unless done before.
  void SweepDir(const PreparedCopy& copy);
  /// Flushes the file systems in renamed_dirs_ and forgets them. Returns
  /// false with `*error` set if one could not be flushed.
  bool SyncRenamedDirs(std::string* error);

  std::deque<std::unique_ptr<Pending>> pending_;  // announced, not yet made
  uint64_t pending_bytes_ = 0;                    // of those, written ahead
  // File systems with new names not yet flushed, each with a directory.
  std::map<dev_t, std::string> renamed_dirs_;
  std::set<std::pair<dev_t, ino_t>> swept_dirs_;  // by RemoveLeftovers
  std::vector<std::string> notes_;
};

}  // namespace patcher

#endif  // PATCHER_WINE_COPIER_H_
