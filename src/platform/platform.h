// The seam between the patch run and the operating system.

#ifndef PATCHER_PLATFORM_PLATFORM_H_
#define PATCHER_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace patcher {

/// Box types and answers, numbered as Windows numbers them. Our own names:
/// <windows.h> defines MB_OK, IDYES and friends as macros.
enum BoxType : unsigned { kBoxOk = 0, kBoxYesNo = 4 };
constexpr int kAnswerOk = 1;   // an OK box was closed
constexpr int kAnswerYes = 6;  // the one answer that means Yes
constexpr int kAnswerNo = 7;

/// File attribute bits, numbered as Windows numbers them.
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

/// Registry value types.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;

/// Results of RegistryKey::Query, numbered as Windows numbers them.
constexpr long kRegOk = 0;
constexpr long kRegNotFound = 2;
constexpr long kRegMoreData = 234;

/// A file opened for reading its raw bytes; closed when destroyed.
class InputFile {
 public:
  virtual ~InputFile() = default;
  /// Reads up to `size` bytes into `buf`. Returns the number of bytes read,
  /// 0 at the end of the data, or -1 on a read error.
  virtual long Read(char* buf, size_t size) = 0;
};

/// An open registry key under HKEY_LOCAL_MACHINE; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  /// Reads the value `name` the way RegQueryValueExA does. On entry `*size`
  /// is the capacity of `data` in bytes. Returns kRegOk with `*size` set to
  /// the bytes written (a string's terminator included when the value has
  /// one) and `*type` set when `type` is not null; kRegNotFound when there is
  /// no such value; kRegMoreData when the data does not fit (the contents of
  /// `data` are then unspecified).
  virtual long Query(const char* name, uint32_t* type, char* data,
                     uint32_t* size) = 0;
};

/// The operating system as a patch run sees it: registry reads, message
/// boxes, file attributes, opening files for reading and copying files. All
/// paths are Windows paths (backslash separators; relative ones against the
/// working directory). Abstract so that the run can be tested against a fake.
///
/// Real implementations: platform/platform_win32.cc (the Win32 API) and
/// LinuxPlatform in linux/linux_platform.h (a Wine or Proton prefix seen from
/// Linux); CMake builds one of them. The fake is FakePlatform in
/// test_util.h.
class Platform {
 public:
  virtual ~Platform() = default;

  /// Opens HKEY_LOCAL_MACHINE\`subkey` for reading, in the registry view of a
  /// 32-bit program. Returns null when the key does not exist or cannot be
  /// opened.
  virtual std::unique_ptr<RegistryKey> OpenKey(const char* subkey) = 0;

  /// Shows a modal box with no owner window and waits for it to be closed.
  /// Returns kAnswerYes when the user chose Yes; any other value is No (or
  /// the close of an OK box).
  virtual int ShowBox(const char* text, const char* caption, BoxType type) = 0;

  /// Returns the attribute bits of `path`, or kInvalidAttributes when there
  /// is no such file.
  virtual uint32_t ReadAttributes(const char* path) = 0;

  /// Sets the attribute bits of `path`. Returns false on failure.
  virtual bool WriteAttributes(const char* path, uint32_t attributes) = 0;

  /// Opens `path` for reading. Returns null when it cannot be opened for any
  /// reason: absent, a directory, or refused; `*error`, when `error` is not
  /// null, then names the failed call, the path and the reason.
  virtual std::unique_ptr<InputFile> OpenForReading(const char* path,
                                                    std::string* error) = 0;

  /// Copies `source` to `dest`, replacing an existing `dest` atomically: the
  /// destination's directory must exist and a read-only destination is
  /// refused. Returns true on success. On failure returns false, leaves
  /// `dest` as it was and sets `*error` to a text naming the failed call and
  /// its path. A crash never leaves `dest` empty or part-written. When it
  /// returns true and no copy is announced after this one, this copy and all
  /// copies before it are on disk, their data and their names.
  virtual bool CopyOver(const char* source, const char* dest,
                        std::string* error) = 0;

  /// Announces that CopyOver(source, dest) follows, after the copies
  /// announced before it, so that the platform may start its work early
  /// (copy the data beside `dest`, flush many files at once). While copies
  /// are announced and not yet made, each CopyOver is the first of them.
  /// Nothing may become visible before that CopyOver, and its checks and
  /// result stay as if nothing had been announced. The default does nothing.
  virtual void AnnounceCopy(const char* source, const char* dest) {
    (void)source;
    (void)dest;
  }

  /// Returns the stream for the run's lines, which are text in the ANSI
  /// code page, as the console should show it. It stays open while the
  /// platform lives. The default is stdout, as it stands.
  virtual FILE* StandardOutput() { return stdout; }

  /// Called once the check has passed and found the installation directory
  /// `install_dir` (as the registry stores it), before anything is asked or
  /// written. The platform may keep other runs from patching that folder
  /// until this run ends, and wait here while another run does. The default
  /// does nothing.
  virtual void HoldInstallDir(const char* install_dir) { (void)install_dir; }

  /// Called once the check has passed and before the confirmation is asked.
  /// When the platform can tell that programs which may be the game are
  /// running where the patch writes, it warns in a Yes/No box. Returns false
  /// when the user answered anything but Yes to that warning; the run then
  /// ends as after No to the confirmation. Returns true when there was
  /// nothing to warn of or the user answered Yes. The default warns of
  /// nothing.
  virtual bool ConfirmGameClosed() { return true; }

  /// Tells the platform, before the question is asked, that the copy pass
  /// is to copy `source`, after the copies planned before it: the check
  /// calls it for each entry that names a destination, in list order, and
  /// the copy pass's CopyOver calls then follow in the same order (unless
  /// the list was changed in between). It serves only to show how far the
  /// copy pass has come: nothing it does may change a check, a copy or a
  /// result, and a question answered No leaves the plan unused. The default
  /// does nothing.
  virtual void PlanCopy(const char* source) { (void)source; }
};

/// Returns the platform of this host; platform_win32.cc and
/// linux/create_platform.cc define it. Returns null when the program is to
/// end at once with exit status 0, as after No to the confirmation: on
/// Linux, when the game was found in several Wine prefixes and the user
/// chose none of them.
std::unique_ptr<Platform> CreatePlatform();

}  // namespace patcher

#endif  // PATCHER_PLATFORM_PLATFORM_H_
