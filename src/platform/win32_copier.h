// Copies of a whole patch on Windows: each written into a temporary beside
// its destination and renamed over it, the data of copies announced ahead
// written early and put on disk in batches.

#ifndef PATCHER_PLATFORM_WIN32_COPIER_H_
#define PATCHER_PLATFORM_WIN32_COPIER_H_

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32_error.h"
#include "platform/win32_flusher.h"
#include "platform/win32_folders.h"

namespace patcher {

/// Copies files as CopyFileA(source, dest, FALSE) does, so that a crash
/// leaves each destination the old file or the whole new one: the data goes
/// to a temporary beside the destination (`.<name>.patcher-XXXXXX`, made
/// with CREATE_NEW, hidden), written and flushed through the one handle it
/// was made with, gets the source's attributes and last-write time, and
/// only then is renamed over the destination. The data of up to 256 copies
/// announced ahead (64 MiB) is written early and flushed on a thread of its
/// own (Win32Flusher) while the next ones are written: each file written out
/// without a flush of the device's cache where Windows offers that
/// (NtFlushBuffersFileEx with FLUSH_FLAGS_FILE_DATA_ONLY), then, when the
/// first of them is made, one full flush for all those written out on its
/// volume; where it does not, one FlushFileBuffers per file. The
/// renames do not wait for the disk: after the last announced copy one flush
/// per volume puts them on disk. Where no temporary fits beside the
/// destination (MAX_PATH, a folder that refuses new files), the copy is a
/// plain CopyFileA onto the destination, flushed. Folders are claimed
/// (Win32Folders) before the first temporary or copy goes into them.
class Win32Copier {
 public:
  Win32Copier();
  ~Win32Copier();
  Win32Copier(const Win32Copier&) = delete;
  Win32Copier& operator=(const Win32Copier&) = delete;

  /// Claims the folder `path` (Win32Folders::Claim) before any copy, so
  /// that a second run waits for this one from here rather than at its
  /// first copy. Does nothing when the folder cannot be opened.
  void HoldFolder(const std::string& path);

  /// Announces a copy that will be made after the copies announced before
  /// it, and may write its data ahead. Nothing of it is visible under the
  /// destination's name before its Copy().
  void Announce(const std::string& source, const std::string& dest);

  /// Makes the copy announced first and not yet made, or an unannounced one
  /// when none is waiting. `attributes` are the destination's, as
  /// GetFileAttributesA gave them just before. Refuses a read-only
  /// destination; while another process holds the destination open, tries
  /// again for about a second. The data written ahead is used when the
  /// paths are the announced ones and the source is unchanged (size, time,
  /// attributes); otherwise it copies afresh. When no announced copy is
  /// left, it also flushes the volumes of every rename since the last such
  /// flush; a failure of that fails this copy. Returns true on success; on
  /// failure false with `*error` naming the call and its path, and the
  /// destination as it was (unless copied onto it straight).
  bool Copy(const std::string& source, const std::string& dest,
            DWORD attributes, std::string* error);

 private:
  struct Pending;
  enum class Made { kDone, kFailed, kNoTemporary };

  /// Writes ahead the data of the copies announced and not yet tried, as
  /// far as the batch and the disk allow.
  void WriteAhead();
  /// Makes the temporary of `pending` with its source's data, attributes
  /// and time. kNoTemporary when none fits beside the destination.
  Made WriteTemporary(Pending* pending, std::string* error);
  /// Flushes a file written ahead on the flusher's thread; `self` is the
  /// copier.
  static DWORD FlushWrittenAhead(HANDLE file, void* self);
  /// Flushes the device's cache through `first`, whose data is written out:
  /// that puts it on disk, and the files of its volume written out before.
  void FlushUpTo(Pending* first);
  /// Makes one copy, with the temporary of `first` where it is usable.
  bool CopyOne(Pending* first, const std::string& source,
               const std::string& dest, DWORD attributes, std::string* error);
  /// Flushes the volumes renamed into since the last call. Returns false
  /// with `*error` set when one could not be flushed.
  bool EndBatch(std::string* error);

  Win32Folders folders_;
  std::deque<std::unique_ptr<Pending>> pending_;  // announced, not yet made
  size_t tried_ = 0;  // those before it have been tried for writing ahead
  size_t written_count_ = 0;    // of those, written ahead
  uint64_t pending_bytes_ = 0;  // their data
  // Bytes free on each volume when last looked at, less what was written
  // ahead since; looked at again after each flush.
  std::map<DWORD, uint64_t> room_;
  // Per volume, the last file renamed into place since the last flush of
  // its name: flushing it puts the renames before it on disk as well.
  std::map<DWORD, std::pair<UniqueHandle, std::string>> renamed_;
  std::vector<char> buffer_;
  // NtFlushBuffersFileEx, where ntdll has it (Windows 8 and later).
  using FlushEx = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, void*);
  FlushEx flush_ex_ = nullptr;
  // Last: done with the files written ahead before they are closed.
  Win32Flusher flusher_;
};

}  // namespace patcher

#endif  // PATCHER_PLATFORM_WIN32_COPIER_H_
