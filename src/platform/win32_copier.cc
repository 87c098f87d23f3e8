// Copies of a whole patch on Windows (see win32_copier.h).

#include "platform/win32_copier.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32_flusher.h"
#include "platform/win32_names.h"
#include "text/temporary_name.h"

namespace patcher {

namespace {

// A batch: at most this many files, and this many bytes, written ahead (as
// the Linux build batches them).
constexpr size_t kMaxPending = 256;
constexpr uint64_t kMaxPendingBytes = 64 << 20;
// Data is copied through a buffer of this size: one read and one write for
// most files of a patch.
constexpr DWORD kBufferBytes = 1 << 20;

/// How long a copy keeps trying to replace a destination that another
/// process holds open: kReplaceAttempts tries, kReplacePauseMs apart.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplacePauseMs = 100;

// NtFlushBuffersFileEx's flag: the file's data, without its metadata and
// without a flush of the device's cache.
constexpr ULONG kFlushFileDataOnly = 0x1;

// The attribute bits a copy takes from its source, as CopyFileA gives them;
// the others cannot be set.
constexpr DWORD kCopiedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct IoStatus {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};

/// True for the errors a file that another process has open gives.
bool IsHeldOpen(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

/// Calls `attempt` (which returns a BOOL and leaves its error in
/// GetLastError) until it succeeds. A virus scanner, an indexer or the game
/// itself may hold the destination open for a moment: with `may_retry`, an
/// error such a file gives is tried again, kReplaceAttempts times in all,
/// about a second, before the copy is called failed. Returns 0 on success,
/// else the last error.
template <typename Attempt>
DWORD RetryWhileHeldOpen(bool may_retry, Attempt attempt) {
  for (int tries = 1;; ++tries) {
    if (attempt()) return 0;
    DWORD last = GetLastError();
    if (!may_retry || tries >= kReplaceAttempts || !IsHeldOpen(last))
      return last;
    Sleep(kReplacePauseMs);
  }
}

/// Deletes a temporary of a copy that was not made. A read-only source
/// gives a read-only copy, which DeleteFileA refuses until the bit is
/// cleared.
void RemoveTemporary(const std::string& temp) {
  SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(temp.c_str());
}

/// Writes the data of the file `path` out to the disk. A read-only file (a
/// copy of a read-only source) can only be opened for writing without its
/// read-only bit, which it gets back afterwards. Returns 0 on success, else
/// the error.
DWORD FlushToDisk(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  bool read_only = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only)
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  DWORD error = 0;
  {
    UniqueHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.valid() || !FlushFileBuffers(file.get())) error = GetLastError();
  }
  if (read_only) SetFileAttributesA(path, attributes);
  return error;
}

/// Renames the open file `file` to `dest`, replacing what is there, as
/// MoveFileExA(..., MOVEFILE_REPLACE_EXISTING) does by name, and with its
/// errors. Through the handle the temporary already has: MoveFileExA opens
/// the file again, which costs Wine three more calls to its server and a
/// look up the path for each file.
BOOL RenameOver(HANDLE file, const std::string& dest) {
  UINT code_page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  int units = MultiByteToWideChar(code_page, 0, dest.c_str(), -1, nullptr, 0);
  if (units <= 0) return FALSE;
  // FILE_RENAME_INFO ends in its name: room for it after the struct.
  std::vector<char> storage(sizeof(FILE_RENAME_INFO) +
                            static_cast<size_t>(units) * sizeof(WCHAR));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>((units - 1) * sizeof(WCHAR));
  MultiByteToWideChar(code_page, 0, dest.c_str(), -1, info->FileName, units);
  return SetFileInformationByHandle(file, FileRenameInfo, info,
                                    static_cast<DWORD>(storage.size()));
}

/// A number for a temporary's name, different at each call and in each
/// process.
uint64_t RandomNumber() {
  static uint64_t counter = 0;
  static const uint64_t base =
      (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount64();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (base ^ static_cast<uint64_t>(now.QuadPart)) +
         ++counter * 0x9E3779B97F4A7C15ull;
}

}  // namespace

// A copy announced and not yet made, or one being made: its source, open
// while its data waits for room in the batch, and its temporary, open from
// its creation to its rename.
struct Win32Copier::Pending {
  std::string source;
  std::string dest;
  UniqueHandle in;  // the source, opened ahead
  uint64_t size = 0;
  FILETIME write_time = {};
  DWORD attributes = 0;  // the source's
  const Win32Folder* folder = nullptr;
  std::string temp;   // while the temporary has that name
  UniqueHandle file;  // the temporary
  bool written = false;
  FlushJob flush;                   // of the data written ahead
  Win32Flusher* flusher = nullptr;  // that has it
  bool durable = false;             // on disk, the device flushed since

  ~Pending() { DropTemporary(); }

  /// Closes and removes the temporary, if it has one.
  void DropTemporary() {
    if (flusher != nullptr) flusher->Wait(&flush);
    file.reset();
    if (!temp.empty()) RemoveTemporary(temp);
    temp.clear();
  }

  /// Opens the source and notes its size, time and attributes. Returns
  /// false, GetLastError() telling why, when it cannot be opened or looked
  /// at.
  bool OpenSource() {
    in = UniqueHandle(CreateFileA(
        source.c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    // Not GetFileInformationByHandle: the volume serial it also gives costs
    // a query of the mount manager under Wine, a round trip through two
    // more processes for each file.
    FILE_BASIC_INFO basic;
    LARGE_INTEGER bytes;
    if (!in.valid() ||
        !GetFileInformationByHandleEx(in.get(), FileBasicInfo, &basic,
                                      sizeof basic) ||
        !GetFileSizeEx(in.get(), &bytes)) {
      DWORD error = GetLastError();
      in.reset();
      SetLastError(error);
      return false;
    }
    size = static_cast<uint64_t>(bytes.QuadPart);
    write_time.dwLowDateTime = basic.LastWriteTime.LowPart;
    write_time.dwHighDateTime =
        static_cast<DWORD>(basic.LastWriteTime.HighPart);
    attributes = basic.FileAttributes;
    return true;
  }

  /// Tells whether the source is still the file whose data was written.
  bool SourceIsCurrent() const {
    WIN32_FILE_ATTRIBUTE_DATA now;
    return GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &now) &&
           now.dwFileAttributes == attributes &&
           ((static_cast<uint64_t>(now.nFileSizeHigh) << 32) |
            now.nFileSizeLow) == size &&
           CompareFileTime(&now.ftLastWriteTime, &write_time) == 0;
  }
};

Win32Copier::Win32Copier() : flusher_(FlushWrittenAhead, this) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll != nullptr) {
    flush_ex_ = reinterpret_cast<FlushEx>(reinterpret_cast<void (*)()>(
        GetProcAddress(ntdll, "NtFlushBuffersFileEx")));
  }
}

DWORD Win32Copier::FlushWrittenAhead(HANDLE file, void* self) {
  // Where Windows can write a file's data out without flushing the
  // device's cache, each file is written out so, and the cache is flushed
  // once for many of them (FlushUpTo), as Git for Windows does for its
  // batches: one round trip to the medium per batch rather than per file.
  // Where it cannot, each file gets a FlushFileBuffers of its own.
  FlushEx flush_ex = static_cast<Win32Copier*>(self)->flush_ex_;
  IoStatus io = {};
  if (flush_ex != nullptr &&
      flush_ex(file, kFlushFileDataOnly, nullptr, 0, &io) >= 0)
    return 0;
  return FlushFileBuffers(file) ? 0 : GetLastError();
}

// The temporaries not used go before the flusher that may still hold them.
Win32Copier::~Win32Copier() { pending_.clear(); }

void Win32Copier::HoldFolder(const std::string& path) {
  if (path.empty()) return;
  char last = path.back();
  folders_.Claim(last == '\\' || last == '/' ? path : path + "\\");
}

void Win32Copier::Announce(const std::string& source, const std::string& dest) {
  auto pending = std::make_unique<Pending>();
  pending->source = source;
  pending->dest = dest;
  pending_.push_back(std::move(pending));
  WriteAhead();
}

void Win32Copier::WriteAhead() {
  // In the order announced, as far as the batch has room: a copy that does
  // not fit waits, its source open, until copies before it are made.
  // Failures are dropped here: Copy() does the whole copy again and reports
  // what fails then. The destination is not looked at: it may still change
  // before its turn.
  while (tried_ < pending_.size() && written_count_ < kMaxPending) {
    Pending* pending = pending_[tried_].get();
    if (!pending->in.valid()) {
      if (!pending->OpenSource() ||
          (pending->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
          pending->size > kMaxPendingBytes) {
        pending->in.reset();
        ++tried_;
        continue;
      }
    }
    if (pending_bytes_ + pending->size > kMaxPendingBytes) return;
    ++tried_;
    std::string folder, name;
    SplitWindowsPath(pending->dest, &folder, &name);
    pending->folder = folders_.Claim(folder);
    if (pending->folder == nullptr) {
      pending->in.reset();
      continue;
    }
    // Files written ahead must never be what leaves a copy without room.
    // The free space is looked at once per batch: what the batch writes
    // ahead is counted off it.
    DWORD volume = pending->folder->volume;
    auto room = room_.find(volume);
    if (room == room_.end()) {
      ULARGE_INTEGER free_bytes;
      if (!GetDiskFreeSpaceExA(folder.empty() ? nullptr : folder.c_str(),
                               &free_bytes, nullptr, nullptr))
        free_bytes.QuadPart = 0;
      room = room_.emplace(volume, free_bytes.QuadPart).first;
    }
    std::string error;
    if (room->second < 2 * kMaxPendingBytes + pending->size ||
        WriteTemporary(pending, &error) != Made::kDone) {
      pending->in.reset();
      pending->DropTemporary();
      continue;
    }
    room->second -= pending->size;
    pending->written = true;
    pending->flush.file = pending->file.get();
    pending->flusher = &flusher_;
    flusher_.Queue(&pending->flush);
    pending_bytes_ += pending->size;
    ++written_count_;
  }
}

Win32Copier::Made Win32Copier::WriteTemporary(Pending* pending,
                                              std::string* error) {
  std::string folder, name;
  SplitWindowsPath(pending->dest, &folder, &name);
  if (pending->folder == nullptr) pending->folder = folders_.Claim(folder);
  if (!pending->in.valid() && !pending->OpenSource()) {
    *error =
        WindowsError("CreateFileA(" + pending->source + ")", GetLastError());
    return Made::kFailed;
  }
  UniqueHandle in = std::move(pending->in);

  // Beside the destination, where the rename that replaces it cannot fail
  // for being on another volume. A name that would not fit in MAX_PATH is
  // never tried: Windows refuses it, and Wine cuts it short.
  const std::string probe = TemporaryName(name, 0);
  if (folder.size() + probe.size() >= MAX_PATH) return Made::kNoTemporary;
  DWORD create_error = 0;
  for (int tries = 0; tries < 16 && !pending->file.valid(); ++tries) {
    std::string temp = folder + TemporaryName(name, RandomNumber());
    pending->file = UniqueHandle(
        CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_HIDDEN, nullptr));
    create_error = pending->file.valid() ? 0 : GetLastError();
    if (pending->file.valid()) {
      pending->temp = temp;
    } else if (create_error != ERROR_FILE_EXISTS &&
               create_error != ERROR_ALREADY_EXISTS) {
      // A folder that refuses new files (or names this long) is copied
      // into straight, as CopyFileA alone does.
      if (create_error == ERROR_ACCESS_DENIED ||
          create_error == ERROR_FILENAME_EXCED_RANGE)
        return Made::kNoTemporary;
      *error = WindowsError("CreateFileA(" + temp + ")", create_error);
      return Made::kFailed;
    }
  }
  if (!pending->file.valid()) {
    *error = WindowsError("CreateFileA(" + folder + probe + ")", create_error);
    return Made::kFailed;
  }

  if (buffer_.empty()) buffer_.resize(kBufferBytes);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), buffer_.data(), kBufferBytes, &got, nullptr)) {
      *error =
          WindowsError("ReadFile(" + pending->source + ")", GetLastError());
      return Made::kFailed;  // ~Pending removes the temporary
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!WriteFile(pending->file.get(), buffer_.data(), got, &put, nullptr) ||
        put != got) {
      *error = WindowsError("WriteFile(" + pending->temp + ")", GetLastError());
      return Made::kFailed;
    }
  }
  // The source's attributes and last-write time, as CopyFileA gives them.
  // The hidden bit of the temporary goes with them, unless the source has it.
  FILE_BASIC_INFO basic = {};
  basic.LastWriteTime.LowPart = pending->write_time.dwLowDateTime;
  basic.LastWriteTime.HighPart =
      static_cast<LONG>(pending->write_time.dwHighDateTime);
  basic.FileAttributes = pending->attributes & kCopiedAttributes;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(pending->file.get(), FileBasicInfo, &basic,
                                  sizeof basic)) {
    *error = WindowsError("SetFileInformationByHandle(" + pending->temp + ")",
                          GetLastError());
    return Made::kFailed;
  }
  return Made::kDone;
}

void Win32Copier::FlushUpTo(Pending* first) {
  // The data of the files written ahead before it on its volume has been
  // written out: one full flush of `first` puts all of it on the medium.
  DWORD volume = first->folder ? first->folder->volume : 0;
  std::vector<Pending*> covered = {first};
  for (const std::unique_ptr<Pending>& pending : pending_) {
    if (!pending->written || pending->durable ||
        (pending->folder ? pending->folder->volume : 0) != volume)
      continue;
    flusher_.Wait(&pending->flush);
    if (pending->flush.error == 0) covered.push_back(pending.get());
  }
  if (!FlushFileBuffers(first->file.get())) {
    first->flush.error = GetLastError();
    return;
  }
  for (Pending* pending : covered) pending->durable = true;
}

bool Win32Copier::Copy(const std::string& source, const std::string& dest,
                       DWORD attributes, std::string* error) {
  std::unique_ptr<Pending> first;
  if (!pending_.empty()) {
    first = std::move(pending_.front());
    pending_.pop_front();
    if (tried_ > 0) --tried_;
    if (first->written) {
      pending_bytes_ -= first->size;
      --written_count_;
    }
  }
  bool copied = CopyOne(first.get(), source, dest, attributes, error);
  first.reset();  // an unused temporary goes with it
  WriteAhead();
  if (pending_.empty()) {
    std::string flush_error;
    if (!EndBatch(&flush_error) && copied) {
      *error = flush_error;
      copied = false;
    }
  }
  return copied;
}

bool Win32Copier::CopyOne(Pending* first, const std::string& source,
                          const std::string& dest, DWORD attributes,
                          std::string* error) {
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    // A rename would replace it regardless; refuse as CopyFileA would.
    *error = "CopyOver(" + dest + "): the destination is read-only";
    return false;
  }
  bool may_retry = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;

  Pending fresh;
  Pending* copy = first;
  DWORD flush_error = 0;
  if (first && first->written && first->source == source &&
      first->dest == dest && first->SourceIsCurrent()) {
    flusher_.Wait(&first->flush);
    if (first->flush.error == 0 && flush_ex_ != nullptr && !first->durable)
      FlushUpTo(first);
    flush_error = first->flush.error;
  } else {
    fresh.source = source;
    fresh.dest = dest;
    Made made = WriteTemporary(&fresh, error);
    if (made == Made::kFailed) return false;
    if (made == Made::kNoTemporary) {
      // No temporary can be made beside the destination. Copy straight onto
      // it, as CopyFileA alone does; a crash in the middle can then leave it
      // part-written.
      if (DWORD last = RetryWhileHeldOpen(may_retry, [&] {
            return CopyFileA(source.c_str(), dest.c_str(), FALSE);
          })) {
        *error = WindowsError("CopyFileA(" + source + ", " + dest + ")", last);
        return false;
      }
      if (DWORD flush_error = FlushToDisk(dest.c_str())) {
        *error = WindowsError("FlushFileBuffers(" + dest + ")", flush_error);
        return false;
      }
      return true;
    }
    if (!FlushFileBuffers(fresh.file.get())) flush_error = GetLastError();
    copy = &fresh;
  }
  // The data reaches the disk before the rename makes it the destination:
  // after a crash the destination is the old file or the whole new one.
  if (flush_error != 0) {
    *error = WindowsError("FlushFileBuffers(" + copy->temp + ")", flush_error);
    return false;
  }

  // The handle kept for the last flush would stand in the way of a rename
  // over the same file: that flush is done now.
  DWORD volume = copy->folder ? copy->folder->volume : 0;
  auto kept = renamed_.find(volume);
  if (kept != renamed_.end() &&
      CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE,
                     kept->second.second.c_str(), -1, dest.c_str(),
                     -1) == CSTR_EQUAL) {
    bool flushed = FlushFileBuffers(kept->second.first.get());
    DWORD flush_error = GetLastError();
    renamed_.erase(kept);
    if (!flushed) {
      *error = WindowsError("FlushFileBuffers(" + dest + ")", flush_error);
      return false;
    }
  }
  // No MOVEFILE_WRITE_THROUGH: the renames of a batch reach the disk
  // together, in EndBatch.
  if (DWORD last = RetryWhileHeldOpen(
          may_retry, [&] { return RenameOver(copy->file.get(), dest); })) {
    *error = WindowsError("SetFileInformationByHandle(" + copy->temp +
                              ", rename to " + dest + ")",
                          last);
    return false;
  }
  copy->temp.clear();
  renamed_[volume] = {std::move(copy->file), dest};
  return true;
}

bool Win32Copier::EndBatch(std::string* error) {
  // Flushing the last file renamed on a volume puts that volume's log, and
  // so every rename before it, on disk.
  bool flushed = true;
  for (auto& [volume, last] : renamed_) {
    if (last.first.valid() && !FlushFileBuffers(last.first.get())) {
      if (flushed)
        *error = WindowsError("FlushFileBuffers(" + last.second + ")",
                              GetLastError());
      flushed = false;
    }
  }
  renamed_.clear();
  room_.clear();
  return flushed;
}

}  // namespace patcher
