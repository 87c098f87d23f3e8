// Helpers shared by the tests and the fuzz targets: files in memory, and a
// platform that records what a patch run did to it.

#ifndef PATCHER_TEST_UTIL_H_
#define PATCHER_TEST_UTIL_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

/// Aborts with the failed condition, so that a fuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                 \
    }                                                                          \
  } while (0)

namespace patcher {

/// An InputFile over bytes held in memory. It hands them out at most `chunk`
/// at a time, so that every token can meet a buffer boundary, and fails with
/// -1 instead of the end of the data when `error_at_end` is set.
class MemoryInputFile : public InputFile {
 public:
  explicit MemoryInputFile(std::string data,
                           size_t chunk = std::numeric_limits<size_t>::max(),
                           bool error_at_end = false)
      : data_(std::move(data)), chunk_(chunk), error_at_end_(error_at_end) {}
  long Read(char* buf, size_t size) override {
    size_t n = std::min({size, chunk_, data_.size() - pos_});
    if (n == 0) return error_at_end_ && size > 0 ? -1 : 0;
    memcpy(buf, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }

 private:
  std::string data_;
  size_t chunk_;
  bool error_at_end_;
  size_t pos_ = 0;
};

/// A code page table in the layout of Wine's c_<cp>.nls files, for tests and
/// fuzz targets. Bytes below 0x80 and units below 0x80 map to themselves
/// unless set; other bytes map to U+003F and other units to `?`.
struct NlsCodePage {
  unsigned number = 0;
  std::map<uint8_t, char16_t> bytes;  // byte -> unit
  // Lead byte -> trail byte -> unit; a lead byte's other trails give U+30FB.
  std::map<uint8_t, std::map<uint8_t, char16_t>> pairs;
  std::map<char16_t, uint16_t> units;  // unit -> byte, or lead << 8 | trail
};

/// Returns the bytes of the c_<cp>.nls file that holds `table`: single-byte
/// when it has no pairs.
inline std::string MakeCodePageNls(const NlsCodePage& table) {
  std::vector<uint16_t> w = {13,
                             static_cast<uint16_t>(table.number),
                             table.pairs.empty() ? uint16_t{1} : uint16_t{2},
                             '?',
                             '?',
                             '?',
                             '?',
                             0,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0};
  for (unsigned b = 0; b < 256; ++b) {
    auto it = table.bytes.find(static_cast<uint8_t>(b));
    bool lead = table.pairs.count(static_cast<uint8_t>(b)) != 0;
    w.push_back(it != table.bytes.end() ? it->second
                : lead                  ? 0
                : b < 0x80              ? b
                                        : '?');
  }
  w.push_back(0);  // no glyph table
  w.push_back(static_cast<uint16_t>(table.pairs.size()));
  if (!table.pairs.empty()) {
    size_t offsets = w.size();
    w.resize(offsets + 256);
    for (const auto& [lead, trails] : table.pairs) {
      w[offsets + lead] = static_cast<uint16_t>(w.size() - offsets);
      for (unsigned t = 0; t < 256; ++t) {
        auto it = trails.find(static_cast<uint8_t>(t));
        w.push_back(it != trails.end() ? it->second : 0x30FB);
      }
    }
  }
  w[13] = static_cast<uint16_t>(w.size() - 13);
  w.push_back(table.pairs.empty() ? 0 : 4);
  std::string out;
  for (uint16_t word : w) {
    out += static_cast<char>(word & 0xFF);
    out += static_cast<char>(word >> 8);
  }
  for (unsigned u = 0; u < 0x10000; ++u) {
    auto it = table.units.find(static_cast<char16_t>(u));
    uint16_t bytes = it != table.units.end() ? it->second : u < 0x80 ? u : '?';
    out += static_cast<char>(bytes & 0xFF);
    if (!table.pairs.empty()) out += static_cast<char>(bytes >> 8);
  }
  return out;
}

/// Returns the bytes of an l_intl.nls file whose upper table gives ASCII
/// letters their capitals and each unit in `upper` its entry; every other
/// unit stays.
inline std::string MakeCaseNls(const std::map<char16_t, char16_t>& upper) {
  std::map<char16_t, char16_t> all = upper;
  for (char16_t c = 'a'; c <= 'z'; ++c) all.emplace(c, c - 'a' + 'A');
  // The data: 256 row offsets, a row of zero deltas at 256, a row at 272
  // that points every unit there, then a row and its deltas per use.
  std::vector<uint16_t> data(256, 272);
  data.resize(288, 0);
  std::fill(data.begin() + 272, data.end(), 256);
  std::map<unsigned, size_t> rows;  // high byte -> its row
  for (const auto& [unit, up] : all) {
    unsigned high = unit >> 8;
    if (!rows.count(high)) {
      rows[high] = data.size();
      data[high] = static_cast<uint16_t>(data.size());
      data.resize(data.size() + 16, 256);
    }
    size_t row = rows[high] + ((unit >> 4) & 15);
    if (data[row] == 256) {
      data[row] = static_cast<uint16_t>(data.size());
      data.resize(data.size() + 16, 0);
    }
    data[data[row] + (unit & 15)] = static_cast<uint16_t>(up - unit);
  }
  std::vector<uint16_t> w = {1, static_cast<uint16_t>(data.size() + 1)};
  w.insert(w.end(), data.begin(), data.end());
  w.push_back(1);  // an empty lower table
  std::string out;
  for (uint16_t word : w) {
    out += static_cast<char>(word & 0xFF);
    out += static_cast<char>(word >> 8);
  }
  return out;
}

/// A folder of its own for one test, under /tmp, with the umask 022. When
/// destroyed it goes back to the working directory it was made in and
/// removes the folder and all it holds, whatever their permissions. Derive a
/// fixture from it to call its helpers directly; failures of its own calls
/// fail the test.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& root() const { return root_; }
  /// Returns the path of `rel` in the folder.
  std::string Path(const std::string& rel) const;
  void MakeDir(const std::string& rel, mode_t mode = 0755);
  /// Writes `data` to a new file `rel` with the permissions `mode`.
  void Write(const std::string& rel, const std::string& data,
             mode_t mode = 0644);
  std::string Read(const std::string& rel) const;
  struct stat Lstat(const std::string& rel) const;
  /// Returns the names in the folder `rel`, sorted.
  std::vector<std::string> Names(const std::string& rel) const;

 private:
  std::string root_;
  std::string cwd_;
};

/// A Platform that keeps files, attributes and registry keys in memory,
/// answers Yes/No boxes as told, fails where told and records what was done
/// to it. Paths and key names are compared exactly as given.
class FakePlatform : public Platform {
 public:
  struct Value {
    uint32_t type;
    std::string data;
  };
  struct Box {
    std::string caption;
    std::string text;
    BoxType type;
  };

  /// Adds a REG_SZ value stored with its terminator, creating the key.
  void AddString(const std::string& key, const std::string& name,
                 const std::string& text);
  /// Adds a value of any type with exactly `data` stored.
  void AddValue(const std::string& key, const std::string& name, uint32_t type,
                const std::string& data);

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override;
  int ShowBox(const char* text, const char* caption, BoxType type) override;
  uint32_t ReadAttributes(const char* path) override;
  bool WriteAttributes(const char* path, uint32_t attributes) override;
  std::unique_ptr<InputFile> OpenForReading(const char* path,
                                            std::string* error) override;
  bool CopyOver(const char* source, const char* dest,
                std::string* error) override;
  void AnnounceCopy(const char* source, const char* dest) override;
  /// With game_running_ set, warns in a Yes/No box captioned "Warning" with
  /// the text kGameRunningText, answered from answers_.
  bool ConfirmGameClosed() override;
  static constexpr const char* kGameRunningText = "The game is running.";
  void PlanCopy(const char* source) override;
  /// Records "DIR after N boxes".
  void HoldInstallDir(const char* install_dir) override;

  // What the test sets up.
  std::map<std::string, std::string> files_;    // path -> contents
  std::map<std::string, uint32_t> attributes_;  // absent: archive, or invalid
  std::map<std::string, std::map<std::string, Value>> keys_;
  std::vector<int> answers_;            // Yes/No answers in order; then No
  std::set<std::string> fail_copy_to_;  // destinations whose copy fails
  int fail_opens_after_ = -1;  // opens of the list after which it fails
  bool game_running_ = false;  // ConfirmGameClosed warns

  // What happened.
  std::vector<Box> boxes_;
  std::vector<std::string> registry_log_;  // "open K", "query K\\V", ...
  std::vector<std::string> opened_;        // every OpenForReading path
  std::vector<std::pair<std::string, uint32_t>> attributes_set_;
  std::vector<std::pair<std::string, std::string>> copies_;  // source, dest
  // Every AnnounceCopy and CopyOver in call order: "announce S -> D",
  // "copy S -> D".
  std::vector<std::string> copy_calls_;
  std::vector<std::string> planned_;  // every PlanCopy source, in order
  std::vector<std::string> held_;     // every HoldInstallDir, as recorded

 private:
  class FakeKey;
  int list_opens_ = 0;
};

/// Returns a FakePlatform's boxes as "caption|text" lines, for compact
/// expectations.
std::vector<std::string> BoxLines(const FakePlatform& platform);

}  // namespace patcher

#endif  // PATCHER_TEST_UTIL_H_
