// Windows error codes as text (see win32_error.h).

#include "platform/win32_error.h"

#include <string>

namespace patcher {

std::string WindowsError(const std::string& context, DWORD error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length == 0 || text == nullptr) {
    message = "error " + std::to_string(error);
  } else {
    message.assign(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' ||
            message.back() == ' ')) {
      message.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  return context + ": " + message;
}

}  // namespace patcher
