// The patch list read with Windows' text-mode rules, and its message's escapes
// expanded.

#include "list/patch_list.h"

#include <cstring>
#include <utility>

namespace patcher {

ListReader::ListReader(std::unique_ptr<InputFile> file)
    : file_(std::move(file)) {}

bool ListReader::Fill() {
  if (pos_ < end_) return true;
  if (drained_) return false;
  long n = file_->Read(buf_, sizeof buf_);
  if (n <= 0) {
    drained_ = true;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<size_t>(n);
  return true;
}

int ListReader::Next() {
  if (!Fill()) {
    eof_ = true;
    return -1;
  }
  unsigned char c = static_cast<unsigned char>(buf_[pos_++]);
  if (c == 0x1A) {
    // Ctrl-Z ends the data for good, whatever follows it.
    drained_ = true;
    pos_ = end_;
    eof_ = true;
    return -1;
  }
  if (c == '\r' && Fill() && buf_[pos_] == '\n') {
    ++pos_;
    return '\n';
  }
  return c;
}

char* ListReader::Gets(char* buf, size_t capacity) {
  size_t n = 0;
  while (n + 1 < capacity) {
    int c = Next();
    if (c < 0) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0) return nullptr;
  buf[n] = '\0';
  return buf;
}

char* read_line(char* buf, size_t capacity, ListReader* list) {
  char* result = list->Gets(buf, capacity);
  if (char* lf = strchr(buf, '\n')) *lf = '\0';
  if (char* cr = strchr(buf, '\r')) *cr = '\0';
  return result;
}

int read_header(char* message, size_t message_capacity, char* exe_name,
                size_t exe_name_capacity, ListReader* list) {
  message[0] = '\0';
  exe_name[0] = '\0';
  int corrupt = 0;
  if (!list->eof())
    read_line(message, message_capacity, list);
  else
    corrupt = 1;
  if (list->eof())
    corrupt = 1;
  else
    read_line(exe_name, exe_name_capacity, list);
  return corrupt;
}

bool next_entry(ListReader* list, char* line, size_t capacity, Entry* entry) {
  while (!list->eof()) {
    // The last read at the end of the data reads nothing and leaves the
    // buffer as it was; emptying it first makes that a skipped short line.
    line[0] = '\0';
    read_line(line, capacity, list);
    if (strlen(line) < 3) continue;
    char* comma = strchr(line, ',');
    if (comma) *comma = '\0';
    entry->source = line;
    entry->dest = comma ? comma + 1 : nullptr;
    return true;
  }
  return false;
}

int replace_first(char* text, size_t capacity, const char* pattern,
                  const char* replacement) {
  char* at = strstr(text, pattern);
  if (!at) return 0;
  size_t text_len = strlen(text);
  size_t pattern_len = strlen(pattern);
  size_t replacement_len = strlen(replacement);
  if (text_len - pattern_len + replacement_len >= capacity) return 0;
  char* tail = at + pattern_len;
  memmove(at + replacement_len, tail, strlen(tail) + 1);
  memcpy(at, replacement, replacement_len);
  return 1;
}

int expand_escapes(char* message, size_t capacity) {
  for (;;) {
    int changed = replace_first(message, capacity, "\\n", "\n");
    changed |= replace_first(message, capacity, "\\t", "\t");
    changed |= replace_first(message, capacity, "\\r", "\r");
    if (!changed) return 0;
  }
}

}  // namespace patcher
