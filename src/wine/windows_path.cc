// Windows paths taken apart by Windows' rules.

#include "wine/windows_path.h"

#include <cstring>
#include <string>

namespace patcher {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbidden(char c) {
  // Control characters first: strchr would also find the terminating NUL.
  return static_cast<unsigned char>(c) < 0x20 || strchr("<>:\"|?*", c);
}

}  // namespace

bool ParseWindowsPath(const std::string& path, WindowsPath* out) {
  *out = WindowsPath();
  size_t pos = 0;
  if (path.size() >= 2 && path[1] == ':') {
    char letter = static_cast<char>(path[0] & ~0x20);
    if (letter < 'A' || letter > 'Z') return false;
    out->drive = letter;
    pos = 2;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return false;
  }
  if (pos == path.size()) return false;
  out->rooted = IsSeparator(path[pos]);
  out->trailing_separator = IsSeparator(path.back());

  std::vector<std::string>& names = out->components;
  while (pos < path.size()) {
    size_t end = pos;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::string name = path.substr(pos, end - pos);
    pos = end + 1;

    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!names.empty() && names.back() != "..") {
        names.pop_back();
      } else if (!out->rooted) {
        names.push_back(name);
      }
      continue;
    }
    for (char c : name) {
      if (IsForbidden(c)) return false;
    }
    names.push_back(name);
  }
  // The last name, once `.` and `..` are resolved, loses its trailing dots
  // and blanks, unless the path ends in a separator.
  if (!out->trailing_separator && !names.empty() && names.back() != "..") {
    std::string& last = names.back();
    size_t keep = last.find_last_not_of(". ");
    last.resize(keep == std::string::npos ? 0 : keep + 1);
    if (last.empty()) {
      names.pop_back();
      out->trailing_separator = true;
    }
  }
  return true;
}

}  // namespace patcher
