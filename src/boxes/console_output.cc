// Standard output converted from the ANSI code page to UTF-8, and quiet once
// its reader has gone.

#include "boxes/console_output.h"

#include <stdio.h>

#include <cerrno>
#include <string>

namespace patcher {

namespace {

struct ConsoleOutput {
  AnsiText* text;  // null: bytes pass as they are
  FILE* out;
  FILE* err;
  std::string pending;  // the start of a character cut by the last write
  bool gone = false;    // the reader of `out` has gone
};

/// Writes `data` to the console. Returns false on a failure other than a
/// reader that has gone, which is told once and then ignored.
bool Put(ConsoleOutput* output, const std::string& data) {
  if (output->gone) return true;
  if (fwrite(data.data(), 1, data.size(), output->out) == data.size() &&
      fflush(output->out) == 0)
    return true;
  if (errno != EPIPE) return false;
  // A patch half applied because the reader of its lines went away would be
  // worse than lines lost: the copies go on.
  output->gone = true;
  fprintf(output->err,
          "patcher: standard output is closed; the patch goes on without "
          "its progress lines\n");
  return true;
}

ssize_t WriteConsole(void* cookie, const char* buf, size_t size) {
  auto* output = static_cast<ConsoleOutput*>(cookie);
  if (output->text == nullptr)
    return Put(output, std::string(buf, size)) ? static_cast<ssize_t>(size)
                                               : -1;
  std::string data = output->pending;
  data.append(buf, size);
  size_t complete = output->text->CompleteLength(data);
  output->pending = data.substr(complete);
  std::string utf8 =
      output->text->ToUtf8(std::string_view(data).substr(0, complete));
  return Put(output, utf8) ? static_cast<ssize_t>(size) : -1;
}

int CloseConsole(void* cookie) {
  auto* output = static_cast<ConsoleOutput*>(cookie);
  // A character still cut at the end goes out as its bytes read alone.
  bool put = output->text == nullptr ||
             Put(output, output->text->ToUtf8(output->pending));
  delete output;
  return put ? 0 : EOF;
}

}  // namespace

FILE* OpenConsoleOutput(AnsiText* text, FILE* out, FILE* err) {
  auto* output = new ConsoleOutput{text, out, err, std::string()};
  cookie_io_functions_t io = {nullptr, WriteConsole, nullptr, CloseConsole};
  FILE* stream = fopencookie(output, "w", io);
  if (stream == nullptr) delete output;
  return stream;
}

}  // namespace patcher
