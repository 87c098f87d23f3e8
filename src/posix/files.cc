// Small file-system helpers of the Linux build.

#include "posix/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "posix/scoped_fd.h"

namespace patcher {

std::string JoinPath(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool ReadDirectory(int fd,
                   const std::function<void(const char*, unsigned char)>& add) {
  // getdents64 itself rather than opendir(): no fstat and fcntl calls of
  // its own, two or three calls less for each folder read.
  alignas(dirent64) char buf[32 * 1024];
  for (;;) {
    ssize_t n = getdents64(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
        add(name, entry->d_type);
    }
  }
}

std::string ParentPath(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "."
         : slash == 0               ? "/"
                                    : path.substr(0, slash);
}

mode_t ProcessUmask() {
  // /proc shows it without changing it; umask() can only read it by setting
  // it, which would race with other threads creating files.
  static const mode_t mask = [] {
    if (FILE* status = fopen("/proc/self/status", "re")) {
      char line[256];
      unsigned value;
      while (fgets(line, sizeof line, status)) {
        if (sscanf(line, "Umask: %o", &value) == 1) {
          fclose(status);
          return static_cast<mode_t>(value);
        }
      }
      fclose(status);
    }
    mode_t old = umask(022);
    umask(old);
    return old;
  }();
  return mask;
}

bool ReadSmallHostFile(const std::string& host_path, size_t limit,
                       std::string* text) {
  ScopedFd fd(
      open(host_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  text->clear();
  char buf[64 * 1024];
  while (text->size() < limit) {
    ssize_t n = read(fd.get(), buf, std::min(sizeof buf, limit - text->size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace patcher
