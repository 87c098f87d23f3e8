// Feeds arbitrary bytes as move.txt to a whole patch run, answered Yes, over
// a platform on which every copy succeeds and every source exists but those
// that hold a chosen byte, and checks what both passes made of the list, and
// what standard error says of the missing sources, against a plain model of
// the list's reading rules.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "list/patch_list.h"
#include "platform/platform.h"
#include "run/check.h"
#include "run/patch_run.h"
#include "test_util.h"

namespace patcher {
namespace {

const char kInstallDir[] = "C:\\Games\\Torvane 2000";

class FuzzKey : public RegistryKey {
 public:
  long Query(const char* name, uint32_t* type, char* data,
             uint32_t* size) override {
    if (strcmp(name, "Install Dir") != 0) return kRegNotFound;
    if (*size < sizeof kInstallDir) return kRegMoreData;
    memcpy(data, kInstallDir, sizeof kInstallDir);
    *size = sizeof kInstallDir;
    if (type) *type = kRegSz;
    return kRegOk;
  }
};

struct Copy {
  std::string source, dest;
};

/// Whether the source `name` is missing: when it holds the byte `missing`,
/// unless that is 0 or `name` is the list's.
bool IsMissing(const std::string& name, char missing) {
  return missing != 0 && name.find(missing) != std::string::npos &&
         name != kListName;
}

/// Every source opens but the missing ones, every copy succeeds; boxes
/// answer Yes.
class FuzzPlatform : public Platform {
 public:
  FuzzPlatform(const std::string& list, size_t chunk, bool error_at_end,
               char missing)
      : list_(list),
        chunk_(chunk),
        error_at_end_(error_at_end),
        missing_(missing) {}

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    if (strcmp(subkey, "Software\\Quelvar\\Torvane") != 0) return nullptr;
    return std::unique_ptr<RegistryKey>(new FuzzKey);
  }
  int ShowBox(const char* text, const char* caption, BoxType type) override {
    boxes_.push_back(std::string(caption) + "|" + text);
    return type == kBoxYesNo ? kAnswerYes : 1;
  }
  uint32_t ReadAttributes(const char*) override { return kAttributeArchive; }
  bool WriteAttributes(const char*, uint32_t) override { return true; }
  std::unique_ptr<InputFile> OpenForReading(const char* path,
                                            std::string* error) override {
    opened_.push_back(path);
    if (strcmp(path, kListName) == 0) {
      return std::unique_ptr<InputFile>(
          new MemoryInputFile(list_, chunk_, error_at_end_));
    }
    if (IsMissing(path, missing_)) {
      if (error) *error = std::string("open(") + path + "): missing";
      return nullptr;
    }
    return std::unique_ptr<InputFile>(new MemoryInputFile(""));
  }
  bool CopyOver(const char* source, const char* dest, std::string*) override {
    copies_.push_back(Copy{source, dest});
    return true;
  }
  void PlanCopy(const char* source) override { planned_.push_back(source); }

  std::vector<std::string> boxes_;
  std::vector<std::string> opened_;  // every OpenForReading path
  std::vector<Copy> copies_;
  std::vector<std::string> planned_;  // every PlanCopy source

 private:
  const std::string& list_;
  size_t chunk_;
  bool error_at_end_;
  char missing_;
};

// The model: the list's lines as the C runtime's text mode and fgets() with
// a 1024-byte buffer yield them, each cut at its first NUL, LF and CR.
struct Model {
  std::vector<std::string> lines;  // as read_line leaves them
  std::vector<bool> eof_after;     // end-of-file indicator after each read
};

Model ReadModel(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size() && raw[i] != '\x1a'; ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  Model model;
  size_t pos = 0;
  for (;;) {
    size_t n = 0;
    while (n < kLineCapacity - 1 && pos + n < text.size()) {
      if (text[pos + n++] == '\n') break;
    }
    std::string line = text.substr(pos, n);
    // fgets sets end-of-file when it ran into the end before a line feed
    // or a full buffer.
    bool eof = pos + n == text.size() && (n == 0 || line.back() != '\n') &&
               n < kLineCapacity - 1;
    pos += n;
    line = line.substr(0, line.find('\0'));
    line = line.substr(0, line.find('\n'));
    line = line.substr(0, line.find('\r'));
    model.lines.push_back(line);
    model.eof_after.push_back(eof);
    if (eof || (n == 0)) break;
  }
  return model;
}

std::string ExpandModel(const std::string& message) {
  std::string out;
  for (size_t i = 0; i < message.size(); ++i) {
    char next = i + 1 < message.size() ? message[i + 1] : '\0';
    if (message[i] == '\\' && (next == 'n' || next == 't' || next == 'r')) {
      out += next == 'n' ? '\n' : next == 't' ? '\t' : '\r';
      ++i;
    } else {
      out += message[i];
    }
  }
  return out;
}

/// A stream that drops what is written to it without a system call, so that
/// the run's flushes cost nothing.
FILE* NullStream() {
  static FILE* out = [] {
    cookie_io_functions_t io = {};
    io.write = [](void*, const char*, size_t size) -> ssize_t {
      return static_cast<ssize_t>(size);
    };
    return fopencookie(nullptr, "w", io);
  }();
  return out;
}

}  // namespace
}  // namespace patcher

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace patcher;
  FuzzedDataProvider provider(data, size);
  // Options come from the end of the input, so that a plain list is a seed.
  uint8_t options = provider.ConsumeIntegral<uint8_t>();
  char missing = static_cast<char>(provider.ConsumeIntegral<uint8_t>());
  std::string list = provider.ConsumeRemainingBytesAsString();
  size_t chunk = (options & 0x7f) == 0 ? 4096 : (options & 0x7f);
  bool error_at_end = options & 0x80;

  FuzzPlatform platform(list, chunk, error_at_end, missing);
  // What the run writes to standard error is kept, to be checked below.
  char* err_text = nullptr;
  size_t err_size = 0;
  FILE* saved_stderr = stderr;
  stderr = open_memstream(&err_text, &err_size);
  FUZZ_CHECK(stderr != nullptr);
  int status = run_patch(&platform, NullStream());
  fclose(stderr);
  stderr = saved_stderr;
  std::string err(err_text, err_size);
  free(err_text);

  Model model = ReadModel(list);
  // The header is corrupt when the data ended before or while its first
  // line was read.
  bool corrupt = model.eof_after[0];
  if (corrupt) {
    FUZZ_CHECK(status == -CHECK_LIST_CORRUPT);
    FUZZ_CHECK(platform.copies_.empty());
    FUZZ_CHECK(err.empty());
    return 0;
  }
  // Header lines, then entries: lines of 3 or more characters. The exe line
  // is read only when the data did not end in the first.
  std::vector<std::string> entries;
  for (size_t i = 2; i < model.lines.size(); ++i) {
    if (model.lines[i].size() >= 3) entries.push_back(model.lines[i]);
  }
  // The list, each source in turn, the list again for the copy pass.
  std::vector<std::string> opened = {kListName};
  std::vector<std::string> planned;
  size_t missing_count = 0;
  std::string missing_lines;  // the first 100 missing sources, in order
  for (const std::string& line : entries) {
    size_t comma = line.find(',');
    opened.push_back(line.substr(0, comma));
    if (comma != std::string::npos) planned.push_back(opened.back());
    if (IsMissing(opened.back(), missing) && ++missing_count <= 100)
      missing_lines += "patcher: open(" + opened.back() + "): missing\n";
  }
  // Missing sources: each named on standard error, the first 100 of them,
  // and the rest counted; every source tried and every copy planned all the
  // same; one error box; nothing copied.
  if (missing_count) {
    if (missing_count > 100) {
      size_t more = missing_count - 100;
      missing_lines += "patcher: " + std::to_string(more) + " more source" +
                       (more == 1 ? "" : "s") + " cannot be opened\n";
    }
    FUZZ_CHECK(err == missing_lines);
    FUZZ_CHECK(status == -CHECK_MISSING_FILES);
    FUZZ_CHECK(platform.opened_ == opened);
    FUZZ_CHECK(platform.planned_ == planned);
    FUZZ_CHECK(platform.boxes_.size() == 1);
    FUZZ_CHECK(platform.boxes_[0] ==
               "Error|Verification failed.  Missing required patching files.");
    FUZZ_CHECK(platform.copies_.empty());
    return 0;
  }
  FUZZ_CHECK(err.empty());
  opened.push_back(kListName);
  FUZZ_CHECK(platform.opened_ == opened);

  // Warning first, then one Error per entry without a comma, then the end.
  FUZZ_CHECK(!platform.boxes_.empty());
  FUZZ_CHECK(platform.boxes_[0] == "Warning|" + ExpandModel(model.lines[0]));
  size_t copied = 0, errors = 0;
  for (const std::string& line : entries) {
    size_t comma = line.find(',');
    if (comma == std::string::npos) {
      FUZZ_CHECK(platform.boxes_.at(1 + errors) ==
                 "Error|Could not copy file: " + line);
      ++errors;
      continue;
    }
    const Copy& copy = platform.copies_.at(copied++);
    FUZZ_CHECK(copy.source == line.substr(0, comma));
    FUZZ_CHECK(copy.dest ==
               std::string(kInstallDir) + "\\" + line.substr(comma + 1));
  }
  FUZZ_CHECK(copied == platform.copies_.size());
  // The check planned exactly the copies that the copy pass made.
  FUZZ_CHECK(platform.planned_.size() == copied);
  for (size_t i = 0; i < copied; ++i)
    FUZZ_CHECK(platform.planned_[i] == platform.copies_[i].source);
  FUZZ_CHECK(platform.boxes_.size() == errors + 2);
  FUZZ_CHECK(platform.boxes_.back() ==
             (errors ? "Failed|Patch failed." : "Success|Patch successful"));
  FUZZ_CHECK(status == (errors ? 1 : 0));
  return 0;
}
