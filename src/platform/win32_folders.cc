// The folders a Windows run copies into (see win32_folders.h).

#include "platform/win32_folders.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32_names.h"
#include "text/temporary_name.h"

namespace patcher {

namespace {

/// The folder `path` as messages name it: without its last separator.
std::string Shown(const std::string& path) {
  if (path.empty()) return ".";
  if (path.size() > 1 && (path.back() == '\\' || path.back() == '/') &&
      path[path.size() - 2] != ':')
    return path.substr(0, path.size() - 1);
  return path;
}

void Say(const std::string& line) {
  fprintf(stderr, "patcher: %s\n", line.c_str());
  fflush(stderr);
}

}  // namespace

Win32Folders::~Win32Folders() {
  for (auto& [id, folder] : by_id_) {
    if (folder->locked) ReleaseMutex(folder->lock.get());
  }
}

const Win32Folder* Win32Folders::Claim(const std::string& path) {
  auto known = by_path_.find(path);
  if (known != by_path_.end()) return known->second;

  BY_HANDLE_FILE_INFORMATION info;
  {
    UniqueHandle dir(CreateFileA(
        path.empty() ? "." : path.c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir.valid() || !GetFileInformationByHandle(dir.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return nullptr;
  }
  uint64_t index =
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  std::unique_ptr<Win32Folder>& folder =
      by_id_[{info.dwVolumeSerialNumber, index}];
  if (folder) return by_path_[path] = folder.get();
  folder = std::make_unique<Win32Folder>();
  folder->volume = info.dwVolumeSerialNumber;
  by_path_[path] = folder.get();

  // Where the lock cannot be made, the run goes on without it.
  UniqueHandle lock(
      CreateMutexA(nullptr, FALSE,
                   FolderLockName(info.dwVolumeSerialNumber, index).c_str()));
  if (lock.valid()) {
    DWORD waited = WaitForSingleObject(lock.get(), 0);
    if (waited == WAIT_TIMEOUT && locks_held_ == 0) {
      Say("another patch run is using " + Shown(path) +
          "; waiting for it to end");
      waited = WaitForSingleObject(lock.get(), INFINITE);
    }
    // An abandoned lock is one whose run ended without letting it go.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      folder->locked = true;
      folder->lock = std::move(lock);
      ++locks_held_;
    }
  }
  Sweep(path);
  return folder.get();
}

void Win32Folders::Sweep(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE first = FindFirstFileA((path + ".*.patcher-*").c_str(), &found);
  if (first == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTemporaryName(found.cFileName))
      names.push_back(found.cFileName);
  } while (FindNextFileA(first, &found));
  FindClose(first);

  for (const std::string& name : names) {
    // Opened without sharing: a temporary that a running copy holds open
    // is not a leftover, and is left alone. One that is read-only (a copy
    // of a read-only source) loses the bit through the handle first.
    std::string temp = path + name;
    UniqueHandle file(CreateFileA(temp.c_str(), DELETE | FILE_WRITE_ATTRIBUTES,
                                  0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = file.valid() ? 0 : GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_FILE_NOT_FOUND)
      continue;
    const char* call =
        error != 0 ? "CreateFileA" : "SetFileInformationByHandle";
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (error == 0 &&
        (!SetFileInformationByHandle(file.get(), FileBasicInfo, &basic,
                                     sizeof basic) ||
         !SetFileInformationByHandle(file.get(), FileDispositionInfo,
                                     &disposition, sizeof disposition)))
      error = GetLastError();
    if (error == 0)
      Say("removed " + temp + ", left by an interrupted run");
    else
      Say(WindowsError(std::string(call) + "(" + temp + ")", error));
  }
}

}  // namespace patcher
