// Names of the Windows build's temporaries (see win32_temporary.h).

#include "platform/win32_temporary.h"

#include <cstdio>
#include <string>

namespace patcher {

namespace {

constexpr char kTag[] = ".patcher-";
constexpr size_t kTagLength = sizeof kTag - 1;
constexpr size_t kRandomChars = 6;

bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

}  // namespace

void SplitWindowsPath(const std::string& path, std::string* folder,
                      std::string* name) {
  size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) {
    // "C:name" is relative to drive C's current directory.
    cut = path.size() >= 2 && path[1] == ':' ? 1 : std::string::npos;
  }
  size_t start = cut == std::string::npos ? 0 : cut + 1;
  *folder = path.substr(0, start);
  *name = path.substr(start);
}

std::string WindowsTemporaryName(const std::string& name, uint64_t random) {
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string temp = "." + name + kTag;
  for (size_t i = 0; i < kRandomChars; ++i, random /= 62)
    temp += kChars[random % 62];
  return temp;
}

bool IsWindowsTemporaryName(const std::string& name) {
  if (name.size() < 2 + kTagLength + kRandomChars || name[0] != '.')
    return false;
  size_t tag = name.size() - kRandomChars - kTagLength;
  if (name.compare(tag, kTagLength, kTag) != 0) return false;
  for (size_t i = tag + kTagLength; i < name.size(); ++i) {
    if (!IsAlnum(name[i])) return false;
  }
  return true;
}

std::string FolderLockName(uint32_t volume, uint64_t index) {
  char name[64];
  snprintf(name, sizeof name, "Local\\patcher-folder-%08x-%016llx",
           static_cast<unsigned>(volume),
           static_cast<unsigned long long>(index));
  return name;
}

}  // namespace patcher
