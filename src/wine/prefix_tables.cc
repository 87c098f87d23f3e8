// A prefix's code page and case tables, with the built-in fallbacks.

#include "wine/prefix_tables.h"

#include <memory>
#include <string>

#include "platform/platform.h"
#include "wine/host_file.h"

namespace patcher {

namespace {

// Wine 8's largest table, c_950.nls, is under 200 KiB; a double-byte table
// with a trail table for every byte would stay under 400 KiB.
constexpr size_t kMaxTableBytes = 1 << 20;

std::string System32(const std::string& prefix) {
  return prefix + "/drive_c/windows/system32/";
}

/// Reads all of `path` into `*data`. Returns false when it cannot be read
/// or holds more than kMaxTableBytes.
bool ReadTableFile(const std::string& path, std::string* data) {
  std::unique_ptr<InputFile> file = OpenHostFile(path, nullptr);
  if (!file) return false;
  data->clear();
  char buf[64 * 1024];
  for (;;) {
    long n = file->Read(buf, sizeof buf);
    if (n < 0) return false;
    if (n == 0) return true;
    data->append(buf, static_cast<size_t>(n));
    if (data->size() > kMaxTableBytes) return false;
  }
}

}  // namespace

CodePage LoadCodePage(const std::string& prefix, unsigned code_page) {
  if (code_page == kCodePageUtf8) return CodePage::Utf8();
  CodePage table = CodePage::Windows1252();
  std::string data;
  if (!prefix.empty() && ReadTableFile(System32(prefix) + "c_" +
                                           std::to_string(code_page) + ".nls",
                                       &data)) {
    CodePage::Parse(data, &table);
  }
  return table;
}

CaseTable LoadCaseTable(const std::string& prefix) {
  std::string data;
  CaseTable table;
  if (!prefix.empty() &&
      ReadTableFile(System32(prefix) + "l_intl.nls", &data) &&
      CaseTable::Parse(data, &table)) {
    return table;
  }
  return CaseTable::FromCLibrary();
}

}  // namespace patcher
