// The text of a Windows program that calls the A functions: bytes in its
// ANSI code page, turned into Unicode and back, and names matched ignoring
// case as Windows matches them. The tables are fetched only when text beyond
// ASCII first needs them: every ANSI code page agrees with ASCII below 0x80.

#ifndef PATCHER_TEXT_ANSI_TEXT_H_
#define PATCHER_TEXT_ANSI_TEXT_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "text/case_table.h"
#include "text/code_page.h"

namespace patcher {

class AnsiText {
 public:
  using CodePageSource = std::function<CodePage()>;
  using CaseTableSource = std::function<CaseTable()>;

  /// Each source is called at most once, the first time a text beyond
  /// ASCII needs its table.
  AnsiText(CodePageSource code_page, CaseTableSource case_table);

  /// Returns the ANSI bytes `ansi` as UTF-16, or as UTF-8 (see
  /// CodePage::ToUtf16).
  std::u16string ToUtf16(std::string_view ansi);
  std::string ToUtf8(std::string_view ansi);

  /// Returns the length of the longest start of `ansi` that ends at the end
  /// of a character (see CodePage::CompleteLength).
  size_t CompleteLength(std::string_view ansi);

  /// Returns `text` as ANSI bytes (see CodePage::FromUtf16).
  std::string FromUtf16(std::u16string_view text);

  /// Returns the key under which the UTF-8 name `name` (a host's file name;
  /// bytes that are not UTF-8 read as U+FFFD each) matches names ignoring
  /// case: see CaseTable::Key.
  std::u16string NameKey(std::string_view name);

 private:
  const CodePage& code_page();

  CodePageSource code_page_source_;
  CaseTableSource case_table_source_;
  std::unique_ptr<CodePage> code_page_;
  std::unique_ptr<CaseTable> case_table_;
};

}  // namespace patcher

#endif  // PATCHER_TEXT_ANSI_TEXT_H_
