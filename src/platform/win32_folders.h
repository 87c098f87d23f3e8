// The folders a Windows run copies into: one run per folder at a time, and
// what an interrupted run left there removed before the first copy.

#ifndef PATCHER_PLATFORM_WIN32_FOLDERS_H_
#define PATCHER_PLATFORM_WIN32_FOLDERS_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/win32_error.h"

namespace patcher {

/// A folder as a run knows it once claimed.
struct Win32Folder {
  DWORD volume = 0;     // its volume's serial number
  bool locked = false;  // this run holds its lock
  UniqueHandle lock;    // the named mutex, while held
};

/// Claims each folder a run copies into at its first contact with it. The
/// claim takes the folder's lock, a mutex named after the folder's file
/// index (FolderLockName), and holds it until this object is destroyed.
/// When another run holds it, a run that holds no lock yet says so on
/// standard error and waits until that run ends; a run that already holds
/// the lock of another folder goes on without this one, so that two runs
/// that meet in each other's folders never wait for each other. Then it
/// removes the temporaries that an interrupted run left in the folder (see
/// IsTemporaryName): each one that no process has open, saying so on
/// standard error.
class Win32Folders {
 public:
  Win32Folders() = default;
  ~Win32Folders();
  Win32Folders(const Win32Folders&) = delete;
  Win32Folders& operator=(const Win32Folders&) = delete;

  /// Returns the folder `path` (ending in a separator, or "" for the
  /// working directory, as SplitWindowsPath gives it), claimed. Returns
  /// null when it cannot be opened (it does not exist, for one); it is tried
  /// again at the next call.
  const Win32Folder* Claim(const std::string& path);

 private:
  /// Removes the leftovers in the folder `path`.
  void Sweep(const std::string& path);

  std::map<std::string, Win32Folder*> by_path_;
  // By volume serial number and file index: one claim per folder, whatever
  // the spelling of its paths.
  std::map<std::pair<DWORD, uint64_t>, std::unique_ptr<Win32Folder>> by_id_;
  int locks_held_ = 0;
};

}  // namespace patcher

#endif  // PATCHER_PLATFORM_WIN32_FOLDERS_H_
