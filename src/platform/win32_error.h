// What the Windows platform's files share: a self-closing handle, and the
// one place where a Windows error code becomes an error text.

#ifndef PATCHER_PLATFORM_WIN32_ERROR_H_
#define PATCHER_PLATFORM_WIN32_ERROR_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <utility>

namespace patcher {

/// Returns "`context`: " and the system's text for `error` (from
/// GetLastError or a registry call), without the trailing line end.
std::string WindowsError(const std::string& context, DWORD error);

/// A handle, closed when destroyed. Move-only.
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
  ~UniqueHandle() { reset(); }

  bool valid() const {
    return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr;
  }
  HANDLE get() const { return handle_; }
  /// Closes the handle held, if any.
  void reset() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace patcher

#endif  // PATCHER_PLATFORM_WIN32_ERROR_H_
