// Failed system calls turned into error texts.

#include "posix/unix_error.h"

#include <cstring>
#include <string>

namespace patcher {

std::string UnixError(const char* call, const std::string& path, int err) {
  return std::string(call) + "(" + path + "): " + strerror(err);
}

bool Fail(const char* call, const std::string& path, int err,
          std::string* error) {
  *error = UnixError(call, path, err);
  return false;
}

}  // namespace patcher
