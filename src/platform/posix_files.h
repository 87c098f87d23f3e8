#ifndef PATCHER_PLATFORM_POSIX_FILES_H_
#define PATCHER_PLATFORM_POSIX_FILES_H_

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace patcher {

/// Maps the Windows path `windows_path` to a path on this host, as Wine would
/// resolve it in the prefix at `prefix`, into `*host_path`. A drive `X:` is
/// `<prefix>/dosdevices/x:` (Wine's symbolic link for the drive); a relative
/// path starts at the working directory; a rooted path without a drive
/// (`\tmp`) starts at `/`. Each name is then looked up on disk: the exact
/// name if it exists, else a name in that directory equal but for ASCII case.
/// A name with no match keeps its spelling, and so do all names after it. A
/// path ending in a separator maps to a host path ending in `/`, which names
/// a directory only. Returns false when the path cannot be mapped (see
/// ParseWindowsPath, or a drive without a prefix); the caller then treats it
/// as a missing file.
///
/// Listings of directories are cached while their modification time stays
/// the same, and kept up to date for the files CopyHostFile creates.
bool MapToHost(const std::string& prefix, const std::string& windows_path,
               std::string* host_path);

/// Returns the attribute bits Wine shows for `host_path`, which is not
/// followed if it is a symbolic link: kAttributeDirectory for a directory,
/// kAttributeArchive for anything else, plus kAttributeReadOnly when no one
/// may write it (never for a symbolic link) and kAttributeHidden when its
/// name starts with a dot. Returns kInvalidAttributes when it does not exist.
uint32_t HostAttributes(const std::string& host_path);

/// Sets the read-only bit of the regular file `host_path` as Wine does:
/// setting it takes away every write permission; clearing it from a file no
/// one may write gives write permission to the owner and to those who may
/// read it, within the umask. Other bits, directories and symbolic links
/// (never followed) are left as they are. Returns false and sets `*error`
/// when the file cannot be examined or changed.
bool SetHostAttributes(const std::string& host_path, uint32_t attributes,
                       std::string* error);

/// Opens `host_path` for reading. Returns null when it cannot be opened or
/// is a directory.
std::unique_ptr<InputFile> OpenHostFile(const std::string& host_path);

/// Copies the file `source` to `dest` as CopyFileA(source, dest, FALSE)
/// does, replacing `dest` atomically: the data goes to a new file in the
/// directory of `dest`, which is then renamed over `dest`. The new file has
/// the source's modification time and the default permissions, without
/// write permission when the source has none. A symbolic link at `dest` is
/// replaced, not written through. Fails when the directory of `dest` does
/// not exist, when `dest` is a directory, or when `dest` is a regular file
/// no one may write (refused even for root, as Windows refuses it). Returns
/// true on success. On failure returns false, sets `*error` to a text such
/// as `open(/x/y): Permission denied`, leaves `dest` as it was and leaves no
/// temporary file behind, even when the process is killed while copying
/// (except on file systems without O_TMPFILE).
bool CopyHostFile(const std::string& source, const std::string& dest,
                  std::string* error);

/// Copies files as CopyHostFile does, and does the work of copies announced
/// ahead early and in batches: the data of up to 64 files (64 MiB) goes to
/// unnamed files beside their destinations as they are announced, and one
/// syncfs puts all of it on disk, so that a patch of many small files waits
/// for the disk once per batch rather than once per file. Every file's data
/// is still on disk before the rename that makes it the destination, so a
/// crash leaves the old file or the whole new one. Nothing written ahead is
/// visible before its Copy(), and a process killed earlier leaves nothing
/// behind; where the file system has no unnamed files, nothing is written
/// ahead. A syncfs also writes out what other programs left unwritten on
/// that file system.
class HostCopier {
 public:
  HostCopier();
  ~HostCopier();
  HostCopier(const HostCopier&) = delete;
  HostCopier& operator=(const HostCopier&) = delete;

  /// Announces a copy that Copy() will make, after the copies announced
  /// before it, and may write its data ahead. Empty paths announce a copy
  /// that will fail before it reaches Copy() (see Forget).
  void Announce(const std::string& source, const std::string& dest);

  /// Copies `source` to `dest` with the checks, results and error texts of
  /// CopyHostFile. With `announced` true this is the copy announced first
  /// and not yet made: its data written ahead is used when the paths are
  /// the announced ones and its source and the directory of `dest` are
  /// still the files they were then; otherwise it copies afresh. When no
  /// copy is announced after this one, it also flushes the file systems of
  /// every copy made since the last such flush, so that their new names are
  /// on disk too; a failure of that fails this copy. Returns true on
  /// success; on failure false with `*error` set.
  bool Copy(const std::string& source, const std::string& dest, bool announced,
            std::string* error);

  /// Drops the copy announced first and not yet made, because it failed
  /// without Copy(); flushes as Copy() does when it was the last announced.
  void Forget();

 private:
  struct Ahead;
  static constexpr size_t kMaxAhead = 64;
  static constexpr uint64_t kMaxAheadBytes = 64 << 20;

  void WriteAhead(Ahead* ahead);
  /// Takes the first announced copy off the queue.
  std::unique_ptr<Ahead> TakeFirst();
  bool CopyUsing(Ahead* ahead, const std::string& source,
                 const std::string& dest, std::string* error);
  /// Flushes `first` and every file written ahead and not yet flushed.
  void Flush(Ahead* first);
  /// Flushes the file systems in renamed_dirs_ and forgets them. Returns
  /// false with `*error` set if one could not be flushed.
  bool SyncRenamedDirs(std::string* error);

  std::deque<std::unique_ptr<Ahead>> ahead_;  // announced, not yet copied
  uint64_t ahead_bytes_ = 0;                  // written ahead, not yet copied
  // File systems with new names not yet flushed, each with a directory.
  std::map<dev_t, std::string> renamed_dirs_;
};

/// Makes CopyHostFile use a named temporary, as it does on file systems
/// without O_TMPFILE, when `enabled` is false. For tests.
void SetUnnamedTemporariesForTesting(bool enabled);

}  // namespace patcher

#endif  // PATCHER_PLATFORM_POSIX_FILES_H_
