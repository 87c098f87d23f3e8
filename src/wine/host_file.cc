// Attributes as Wine shows and sets them, and files opened for reading.

#include "wine/host_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "posix/files.h"
#include "posix/scoped_fd.h"
#include "posix/unix_error.h"

namespace patcher {

namespace {

/// Returns the last name in `path`, ignoring trailing slashes.
std::string BaseName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return std::string();
  size_t start = path.rfind('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return path.substr(start, end + 1 - start);
}

class HostInputFile : public InputFile {
 public:
  explicit HostInputFile(int fd) : fd_(fd) {}
  long Read(char* buf, size_t size) override {
    ssize_t n;
    do {
      n = read(fd_.get(), buf, size);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
  }

 private:
  ScopedFd fd_;
};

}  // namespace

uint32_t HostAttributes(const std::string& host_path) {
  struct stat st;
  if (lstat(host_path.c_str(), &st) != 0) return kInvalidAttributes;
  return AttributesOf(host_path, st);
}

uint32_t AttributesOf(const std::string& host_path, const struct stat& st) {
  uint32_t attributes =
      S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
  // A symbolic link's own mode is 0777: never read-only.
  if ((st.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  std::string name = BaseName(host_path);
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    attributes |= kAttributeHidden;
  return attributes;
}

bool SetHostAttributes(const std::string& host_path, uint32_t attributes,
                       std::string* error) {
  struct stat st;
  if (lstat(host_path.c_str(), &st) != 0)
    return Fail("lstat", host_path, errno, error);
  if (!S_ISREG(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (attributes & kAttributeReadOnly) {
    wanted &= ~0222;
  } else if ((mode & 0222) == 0) {
    // Write permission for the owner, and for those who may read it.
    wanted |= (0600 | ((mode & 044) >> 1)) & ~ProcessUmask();
  }
  if (wanted != mode && chmod(host_path.c_str(), wanted) != 0)
    return Fail("chmod", host_path, errno, error);
  return true;
}

std::unique_ptr<InputFile> OpenHostFile(const std::string& host_path,
                                        std::string* error, bool regular) {
  std::string ignored;
  if (!error) error = &ignored;
  int fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail("open", host_path, errno, error);
    return nullptr;
  }
  auto file = std::make_unique<HostInputFile>(fd);
  if (regular) return file;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    Fail("fstat", host_path, errno, error);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    Fail("read", host_path, EISDIR, error);
    return nullptr;
  }
  return file;
}

}  // namespace patcher
