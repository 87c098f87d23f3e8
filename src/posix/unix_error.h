// The one place where a failed system call becomes the text the program
// reports: the call, the path it was given, and the system's reason.

#ifndef PATCHER_POSIX_UNIX_ERROR_H_
#define PATCHER_POSIX_UNIX_ERROR_H_

#include <string>

namespace patcher {

/// Returns "`call`(`path`): " followed by the system's text for errno `err`,
/// such as "open(/x/y): Permission denied".
std::string UnixError(const char* call, const std::string& path, int err);

/// Sets `*error` to UnixError(call, path, err). Returns false, so that a
/// failing function can end with `return Fail(...)`.
bool Fail(const char* call, const std::string& path, int err,
          std::string* error);

}  // namespace patcher

#endif  // PATCHER_POSIX_UNIX_ERROR_H_
