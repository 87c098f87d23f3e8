// Windows paths mapped onto the disk of a Wine prefix the way Wine resolves
// them: drives through the prefix's dosdevices, each name matched exactly or
// else ignoring case, with the directory listings that takes kept for a run.

#ifndef PATCHER_WINE_HOST_PATH_H_
#define PATCHER_WINE_HOST_PATH_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "text/ansi_text.h"
#include "wine/drives.h"
#include "wine/windows_path.h"

namespace patcher {

/// The Windows paths of one patch run, in the ANSI code page of `text`,
/// mapped to paths on this host as Wine would resolve them in the prefix at
/// `prefix`. What that takes from the disk is read once and kept: the
/// working directory, the drive on which Wine sees it, and the names in each
/// directory a path goes through, so that a name is found in memory, with no
/// system call, once its directory has been read.
///
/// A directory's names are read only where that pays: a name spelt as on
/// disk in a directory not read (yet) is found by one lstat of it, and the
/// directory is read when a name is not there as spelt (it may be there in
/// another case) or once it has been looked into often enough to pay for
/// reading it. Listings beyond the budget are dropped down to a summary of
/// their names ignoring case, which still tells, with no system call, that
/// no name like the one looked up is there; a name that may be is looked at
/// as spelt, and only a name not there as spelt has the directory read
/// again.
///
/// What the run itself does to names is told with NoteCreated, NoteRemoved
/// and Forget, so that later paths map to what earlier copies made. Names
/// that other programs create or remove meanwhile may go unseen until
/// Forget(); the run forgets at each box it shows, where it waits for the
/// user. The files themselves are always looked at anew (by whoever opens or
/// examines the host path): only the choice of a spelling is kept.
class HostPaths {
 public:
  /// Listings are kept within a budget of `max_names` names, about 20
  /// bytes each (a name beyond ASCII counts for 8): the least recently used
  /// go first, but never the 16 last used, however big, which a patch may
  /// be going back and forth between. Those dropped keep a summary, 8 bytes
  /// a name, within a budget of twice as many names; beyond it the least
  /// recently used summaries are dropped too. The default (about 5 MiB of
  /// listings and 4 MiB of summaries at most) lets a patch of a few hundred
  /// folders of a few hundred files read each of them once.
  HostPaths(std::string prefix, AnsiText* text, size_t max_names = 256 * 1024);
  HostPaths(const HostPaths&) = delete;
  HostPaths& operator=(const HostPaths&) = delete;

  /// Maps `windows_path` into `*host_path`. The whole path is turned into
  /// Unicode before it is taken apart (a double-byte character may end in
  /// 0x5C) and its names are UTF-8 on the host. A drive `X:` is
  /// `<prefix>/dosdevices/x:` (Wine's symbolic link for the drive); a
  /// relative path starts at the working directory, and `..` climbs no
  /// higher than the root of the drive on which Wine sees it; a rooted path
  /// without a drive (`\tmp`) starts at that drive's root; `C:x` starts at
  /// the working directory when Wine sees it on C:, else at C:'s root. Each
  /// name is then looked up in its directory: the exact name if it exists,
  /// else the first name in that directory that matches it as Windows
  /// matches names ignoring case (see AnsiText::NameKey). A name with no
  /// match keeps its spelling, and so do all names after it. A path ending
  /// in a separator maps to a host path ending in `/`, which names a
  /// directory only. Returns false when the path cannot be mapped (see
  /// ParseWindowsPath; longer than MAX_PATH; a drive while there is no
  /// prefix; rooted while Wine sees the working directory on no drive); the
  /// caller then treats it as a missing file, as it does a path on a drive
  /// that the prefix lacks.
  ///
  /// `*type`, when `type` is not null, is set to the directory entry type
  /// (DT_REG, DT_DIR, ...) that the listing gave the last name, or DT_UNKNOWN
  /// when the listing did not tell or the name was not found.
  bool Map(const std::string& windows_path, std::string* host_path,
           unsigned char* type = nullptr);

  /// Records that the run has just created `name` in the directory whose
  /// lstat is `dir`, as a regular file.
  void NoteCreated(const struct stat& dir, const std::string& name);

  /// Records that the run has removed names from the directory whose lstat
  /// is `dir`.
  void NoteRemoved(const struct stat& dir);

  /// Forgets every listing read so far, so that the next paths are mapped
  /// as the disk is now: after a wait, or where the run has changed more
  /// than names in a directory (replaced a symbolic link).
  void Forget();

  /// Returns how many directory listings the run has read (or tried to).
  size_t listings_read() const { return listings_read_; }

  /// Maps the paths that follow into the prefix at `prefix`, forgetting all
  /// that was read for the one before (the drive on which Wine sees the
  /// working directory depends on the prefix).
  void SetPrefix(std::string prefix);

 private:
  /// The names in one directory, as read from it and then as the run
  /// changed them.
  struct Listing {
    bool readable = false;  // else names are tried one by one with lstat
    dev_t dev = 0;
    ino_t ino = 0;
    // Names in ASCII one after another, each ended by a NUL and followed by
    // the type its directory entry gave it (DT_REG, ...), and where each
    // starts, ordered by lower case and, among names alike but for case, as
    // listed: about 16 bytes a name, where a map of strings took 100.
    std::string ascii_names;
    std::vector<uint32_t> ascii;
    bool sorted = true;  // false while the directory is being read
    // Names beyond ASCII: their types, their listing order, and their keys
    // for matching ignoring case, made when first needed.
    std::unordered_map<std::string, unsigned char> others;
    std::vector<std::string> others_in_order;
    std::unordered_map<std::u16string, std::string> keys;
    bool keyed = false;  // whether `keys` holds all of `others`
    uint64_t used = 0;   // clock_ when last used

    /// What it counts for in the budget of names.
    size_t Cost() const { return ascii.size() + 8 * others.size() + 1; }
    void Add(const std::string& name, unsigned char type);
    /// Orders the names added since `sorted` was set false.
    void Sort();
    /// Finds the name that matches `name`, exactly or else ignoring case,
    /// and its type. Returns false when there is none.
    bool Find(const std::string& name, AnsiText* text, std::string* found,
              unsigned char* type);
  };
  /// What is left of a listing dropped: a hash of each name in ASCII by
  /// its lower case, sorted, and whether there were names beyond ASCII.
  struct Summary {
    std::vector<uint64_t> keys;
    bool others = false;
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t used = 0;  // clock_ when last used

    void Add(const std::string& name);
    /// Returns false when no name in the directory matches `name`, in any
    /// case; true when one may.
    bool MayHold(const std::string& name) const;
  };
  enum class Found { kExact, kMatch, kNone };

  /// Maps as Map() does, without the cache of paths mapped lately.
  bool MapAnew(const std::string& windows_path, std::string* host_path,
               unsigned char* type);
  bool StartOf(const WindowsPath& path, std::string* base,
               std::vector<std::string>* names);
  bool WorkingDirectory(std::string* cwd);
  /// Looks `name` up in the directory `dir`; `*match` is the name found.
  Found Look(const std::string& dir, const std::string& name,
             std::string* match, unsigned char* type);
  /// Looks `name` up in `listing`.
  Found LookIn(Listing& listing, const std::string& dir,
               const std::string& name, std::string* match,
               unsigned char* type);
  /// The listing of `dir`, read now unless it is kept.
  Listing& ListingOf(const std::string& dir);
  /// Drops a listing; `summarize` keeps a summary of it.
  void Drop(std::unordered_map<std::string, Listing>::iterator it,
            bool summarize);
  void DropSummary(std::unordered_map<std::string, Summary>::iterator it);
  /// Drops listings and summaries beyond their budgets.
  void Trim();
  void TrimSummaries();

  std::string prefix_;
  AnsiText* text_;
  int cwd_state_ = 0;  // 0 not read yet, 1 read into cwd_, -1 failed
  std::string cwd_;
  int place_state_ = 0;  // likewise, for place_
  DrivePlace place_;

  // Paths mapped lately, each with the host path and type it gave, while no
  // listing has changed since (`generation_`).
  struct Mapped {
    std::string host_path;
    unsigned char type;
    uint64_t generation;
  };
  std::unordered_map<std::string, Mapped> mapped_;  // by Windows path
  std::deque<std::string> mapped_order_;            // oldest first
  uint64_t generation_ = 0;  // ticks at each change to the names known

  std::unordered_map<std::string, Listing> listings_;   // by directory path
  std::unordered_map<std::string, Summary> summaries_;  // of those dropped
  // Directories neither listed nor summarized: the names looked at in each
  // with an lstat since it was last read, or since the run began.
  std::unordered_map<std::string, uint32_t> looks_;
  // The paths under which each directory (device, inode) is listed or
  // summarized.
  std::multimap<std::pair<dev_t, ino_t>, std::string> by_inode_;
  size_t max_names_;
  size_t names_ = 0;    // in all listings
  size_t keys_ = 0;     // in all summaries
  uint64_t clock_ = 0;  // ticks at each use of a listing or summary
  size_t listings_read_ = 0;
};

/// Maps `windows_path` as HostPaths::Map does, reading the disk anew.
bool MapToHost(const std::string& prefix, AnsiText* text,
               const std::string& windows_path, std::string* host_path);

}  // namespace patcher

#endif  // PATCHER_WINE_HOST_PATH_H_
