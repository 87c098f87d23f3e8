// Standard output converted from the ANSI code page to UTF-8.

#include "boxes/console_output.h"

#include <stdio.h>

#include <string>

namespace patcher {

namespace {

struct Utf8Output {
  AnsiText* text;
  FILE* out;
  std::string pending;  // the start of a character cut by the last write
};

ssize_t WriteUtf8(void* cookie, const char* buf, size_t size) {
  auto* output = static_cast<Utf8Output*>(cookie);
  std::string data = output->pending;
  data.append(buf, size);
  size_t complete = output->text->CompleteLength(data);
  output->pending = data.substr(complete);
  std::string utf8 =
      output->text->ToUtf8(std::string_view(data).substr(0, complete));
  if (fwrite(utf8.data(), 1, utf8.size(), output->out) != utf8.size() ||
      fflush(output->out) != 0)
    return -1;
  return static_cast<ssize_t>(size);
}

int CloseUtf8(void* cookie) {
  auto* output = static_cast<Utf8Output*>(cookie);
  // A character still cut at the end goes out as its bytes read alone.
  std::string rest = output->text->ToUtf8(output->pending);
  int status =
      fwrite(rest.data(), 1, rest.size(), output->out) == rest.size() &&
              fflush(output->out) == 0
          ? 0
          : EOF;
  delete output;
  return status;
}

}  // namespace

FILE* OpenUtf8Output(AnsiText* text, FILE* out) {
  auto* output = new Utf8Output{text, out, std::string()};
  cookie_io_functions_t io = {nullptr, WriteUtf8, nullptr, CloseUtf8};
  FILE* stream = fopencookie(output, "w", io);
  if (stream == nullptr) delete output;
  return stream;
}

}  // namespace patcher
