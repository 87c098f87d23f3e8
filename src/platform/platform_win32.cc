// The platform of a Windows host: the Win32 API, ANSI variants throughout.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace patcher {

// platform.h numbers these as Windows does, so values pass through as they are.
static_assert(kBoxOk == MB_OK && kBoxYesNo == MB_YESNO, "box types");
static_assert(kAnswerOk == IDOK && kAnswerYes == IDYES && kAnswerNo == IDNO,
              "answers");
static_assert(kInvalidAttributes == INVALID_FILE_ATTRIBUTES &&
                  kAttributeReadOnly == FILE_ATTRIBUTE_READONLY &&
                  kAttributeHidden == FILE_ATTRIBUTE_HIDDEN &&
                  kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY &&
                  kAttributeArchive == FILE_ATTRIBUTE_ARCHIVE,
              "attribute bits");
static_assert(kRegOk == ERROR_SUCCESS && kRegNotFound == ERROR_FILE_NOT_FOUND &&
                  kRegMoreData == ERROR_MORE_DATA,
              "registry results");
static_assert(kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ &&
                  kRegBinary == REG_BINARY && kRegDword == REG_DWORD &&
                  kRegLink == REG_LINK && kRegMultiSz == REG_MULTI_SZ,
              "registry types");

namespace {

/// How long CopyOver keeps trying to replace a destination that another
/// process holds open: kReplaceAttempts tries, kReplacePauseMs apart.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplacePauseMs = 100;

/// Returns "`context`: " and the system's text for `error` (from
/// GetLastError or a registry call), without the trailing line end.
std::string WindowsError(const std::string& context, DWORD error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length == 0 || text == nullptr) {
    message = "error " + std::to_string(error);
  } else {
    message.assign(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' ||
            message.back() == ' ')) {
      message.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  return context + ": " + message;
}

/// A file handle, closed when destroyed. Move-only.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() {
    if (valid()) CloseHandle(handle_);
  }

  bool valid() const {
    return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr;
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

/// An open registry key, closed when destroyed. Move-only.
class UniqueKey {
 public:
  UniqueKey() = default;
  explicit UniqueKey(HKEY key) : key_(key) {}
  UniqueKey(UniqueKey&& other) noexcept
      : key_(std::exchange(other.key_, nullptr)) {}
  UniqueKey& operator=(UniqueKey&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
  }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  ~UniqueKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }

  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(UniqueKey key) : key_(std::move(key)) {}

  long Query(const char* name, uint32_t* type, char* data,
             uint32_t* size) override {
    DWORD value_type = 0;
    DWORD bytes = *size;
    LONG result = RegQueryValueExA(key_.get(), name, nullptr, &value_type,
                                   reinterpret_cast<BYTE*>(data), &bytes);
    if (result != ERROR_SUCCESS) return result;
    *size = bytes;
    if (type != nullptr) *type = value_type;
    return kRegOk;
  }

 private:
  UniqueKey key_;
};

class Win32InputFile : public InputFile {
 public:
  explicit Win32InputFile(UniqueHandle file) : file_(std::move(file)) {}

  long Read(char* buf, size_t size) override {
    // One ReadFile reads at most a DWORD's worth; callers loop anyway.
    DWORD wanted = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(file_.get(), buf, wanted, &got, nullptr)) return -1;
    return static_cast<long>(got);
  }

 private:
  UniqueHandle file_;
};

/// Returns the directory part of `path` with its trailing separator, or
/// "." when `path` has none (a name relative to the working directory).
std::string DirectoryOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) {
    // "C:name" is relative to drive C's current directory.
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return ".";
  }
  return path.substr(0, cut + 1);
}

/// Deletes a temporary left by a failed CopyOver. A read-only source gives a
/// read-only copy, which DeleteFileA refuses until the bit is cleared.
void RemoveTemporary(const char* temp) {
  SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(temp);
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

/// The longest folder GetTempFileNameA takes: its name and a separator,
/// "pat", four digits and ".tmp" must fit in MAX_PATH with the terminator.
constexpr size_t kMaxTempFolder = MAX_PATH - 14;

class Win32Platform : public Platform {
 public:
  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    // A 32-bit game's installer writes its keys in the 32-bit view; this
    // program may be 64-bit, so ask for that view rather than spelling out
    // where Windows keeps it.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ | KEY_WOW64_32KEY,
                      &key) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(UniqueKey(key));
  }

  int ShowBox(const char* text, const char* caption, BoxType type) override {
    return MessageBoxA(nullptr, text, caption,
                       type == kBoxYesNo ? MB_YESNO : MB_OK);
  }

  uint32_t ReadAttributes(const char* path) override {
    return GetFileAttributesA(path);
  }

  bool WriteAttributes(const char* path, uint32_t attributes) override {
    return SetFileAttributesA(path, attributes) != 0;
  }

  std::unique_ptr<InputFile> OpenForReading(const char* path,
                                            std::string* error) override {
    UniqueHandle file(
        CreateFileA(path, GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD failure = file.valid() ? 0 : GetLastError();
    // Windows refuses to open a directory this way; make sure of it.
    BY_HANDLE_FILE_INFORMATION info;
    if (failure == 0 && !GetFileInformationByHandle(file.get(), &info))
      failure = GetLastError();
    if (failure == 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      failure = ERROR_ACCESS_DENIED;
    if (failure != 0) {
      if (error)
        *error =
            WindowsError(std::string("CreateFileA(") + path + ")", failure);
      return nullptr;
    }
    return std::make_unique<Win32InputFile>(std::move(file));
  }

  bool CopyOver(const char* source, const char* dest,
                std::string* error) override;
};

bool Win32Platform::CopyOver(const char* source, const char* dest,
                             std::string* error) {
  DWORD attributes = GetFileAttributesA(dest);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    // A rename would replace it regardless; refuse as CopyFileA would.
    *error =
        std::string("CopyOver(") + dest + "): the destination is read-only";
    return false;
  }
  bool may_retry = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;

  // Copy to a new file beside the destination, then rename it over the
  // destination: the rename is atomic, so a crash or a failed copy leaves
  // either the old file or the new one, never a part-written one.
  std::string directory = DirectoryOf(dest);
  char temp[MAX_PATH];
  DWORD temp_error = 0;
  if (directory.size() > kMaxTempFolder)
    temp_error = ERROR_FILENAME_EXCED_RANGE;
  else if (GetTempFileNameA(directory.c_str(), "pat", 0, temp) == 0)
    temp_error = GetLastError();
  if (temp_error == ERROR_ACCESS_DENIED ||
      temp_error == ERROR_FILENAME_EXCED_RANGE) {
    // No temporary can be made beside the destination: its folder refuses
    // new files, or the temporary's path would not fit in MAX_PATH. Copy
    // straight onto it, as CopyFileA alone does; a crash in the middle can
    // then leave it part-written.
    if (DWORD last = RetryWhileHeldOpen(
            may_retry, [&] { return CopyFileA(source, dest, FALSE); })) {
      *error = WindowsError(
          std::string("CopyFileA(") + source + ", " + dest + ")", last);
      return false;
    }
    if (DWORD flush_error = FlushToDisk(dest)) {
      *error = WindowsError(std::string("FlushFileBuffers(") + dest + ")",
                            flush_error);
      return false;
    }
    return true;
  }
  if (temp_error != 0) {
    *error = WindowsError("GetTempFileNameA(" + directory + ")", temp_error);
    return false;
  }
  if (!CopyFileA(source, temp, FALSE)) {
    *error = WindowsError(
        std::string("CopyFileA(") + source + ", " + temp + ")", GetLastError());
    RemoveTemporary(temp);
    return false;
  }

  // The data reaches the disk before the rename makes it the destination:
  // after a crash the destination is the old file or the whole new one.
  if (DWORD flush_error = FlushToDisk(temp)) {
    *error = WindowsError(std::string("FlushFileBuffers(") + temp + ")",
                          flush_error);
    RemoveTemporary(temp);
    return false;
  }

  if (DWORD last = RetryWhileHeldOpen(may_retry, [&] {
        return MoveFileExA(temp, dest,
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      })) {
    *error = WindowsError(
        std::string("MoveFileExA(") + temp + ", " + dest + ")", last);
    RemoveTemporary(temp);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<Platform> CreatePlatform() {
  return std::make_unique<Win32Platform>();
}

}  // namespace patcher
