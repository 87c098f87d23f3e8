// The patch list, move.txt: its header (the question's message and the game's
// executable name) and its entries (a source and a destination each), read with
// Windows' text-mode rules on every host. The names here (read_line,
// next_entry, ...) keep the C style of the run that uses them.

#ifndef PATCHER_LIST_PATCH_LIST_H_
#define PATCHER_LIST_PATCH_LIST_H_

#include <cstddef>
#include <memory>

#include "platform/platform.h"

namespace patcher {

/// The patch list's name, looked up in the working directory.
constexpr const char kListName[] = "move.txt";

/// Capacity of every line, name and message buffer: a line read holds at
/// most 1023 characters.
constexpr size_t kLineCapacity = 1024;

/// Reads a patch list the way the Windows C runtime reads a file opened as
/// text ("r"), on every host alike: CR LF reads as LF, a lone CR stays, and a
/// Ctrl-Z (0x1A) ends the data. Gets() and eof() behave as fgets() and feof().
class ListReader {
 public:
  explicit ListReader(std::unique_ptr<InputFile> file);

  /// Reads characters into `buf` until a line feed (kept) or until
  /// `capacity` - 1 characters were read, then terminates the text. Returns
  /// `buf`, or null when not a single character could be read; `buf` is then
  /// left as it was.
  char* Gets(char* buf, size_t capacity);

  /// True once a read has run into the end of the data. A read error counts
  /// as the end of the data.
  bool eof() const { return eof_; }

 private:
  /// Returns the next character after translation, or -1 at the end of the
  /// data (and sets eof_).
  int Next();
  /// Makes sure a byte is buffered. Returns false when the data has ended.
  bool Fill();

  std::unique_ptr<InputFile> file_;
  char buf_[4096];
  size_t pos_ = 0;
  size_t end_ = 0;
  bool drained_ = false;  // no more bytes will come from file_
  bool eof_ = false;
};

/// Reads one line into `buf` (see ListReader::Gets), then ends the text at
/// its first line feed and after that at its first carriage return. Returns
/// what Gets returned: `buf`, or null when nothing could be read (callers
/// empty the buffer beforehand instead of testing this).
char* read_line(char* buf, size_t capacity, ListReader* list);

/// Reads the list's two header lines, the confirmation message and the
/// executable name, after setting both buffers to the empty text. Returns 0
/// when both were read and 1 when the list is corrupt: the end of the data
/// came before the first line was read or while it was read.
int read_header(char* message, size_t message_capacity, char* exe_name,
                size_t exe_name_capacity, ListReader* list);

/// One entry line split at its first comma. Both point into the line buffer
/// given to next_entry().
struct Entry {
  const char* source;  // the text before the first comma, or the whole line
  const char* dest;    // the text after the first comma; null without comma
};

/// Reads lines into `line` until one of at least 3 characters, splits it at
/// its first comma into `*entry` and returns true. Returns false at the end
/// of the list. Shorter lines are skipped without notice.
bool next_entry(ListReader* list, char* line, size_t capacity, Entry* entry);

/// Replaces the first occurrence of `pattern` in `text` (a buffer of
/// `capacity` bytes) by `replacement`. Returns 1 if it replaced one, 0 if
/// the pattern does not occur or the result would not fit (`text` is then
/// unchanged).
int replace_first(char* text, size_t capacity, const char* pattern,
                  const char* replacement);

/// Turns every backslash directly followed by 'n', 't' or 'r' in `message`
/// into a line feed, a tab or a carriage return; other backslashes stay.
/// Always returns 0.
int expand_escapes(char* message, size_t capacity);

}  // namespace patcher

#endif  // PATCHER_LIST_PATCH_LIST_H_
