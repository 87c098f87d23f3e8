// The text of a Windows program in its ANSI code page, its tables fetched when
// first needed.

#include "text/ansi_text.h"

#include <string>
#include <string_view>
#include <utility>

#include "text/text.h"

namespace patcher {

namespace {

bool IsAscii(std::u16string_view text) {
  for (char16_t unit : text) {
    if (unit >= 0x80) return false;
  }
  return true;
}

}  // namespace

AnsiText::AnsiText(CodePageSource code_page, CaseTableSource case_table)
    : code_page_source_(std::move(code_page)),
      case_table_source_(std::move(case_table)) {}

const CodePage& AnsiText::code_page() {
  if (!code_page_) code_page_ = std::make_unique<CodePage>(code_page_source_());
  return *code_page_;
}

std::u16string AnsiText::ToUtf16(std::string_view ansi) {
  if (IsAscii(ansi)) return std::u16string(ansi.begin(), ansi.end());
  return code_page().ToUtf16(ansi);
}

std::string AnsiText::ToUtf8(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  return Utf16ToUtf8(code_page().ToUtf16(ansi));
}

size_t AnsiText::CompleteLength(std::string_view ansi) {
  if (ansi.empty() || static_cast<unsigned char>(ansi.back()) < 0x80)
    return ansi.size();
  return code_page().CompleteLength(ansi);
}

std::string AnsiText::FromUtf16(std::u16string_view text) {
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  return code_page().FromUtf16(text);
}

std::u16string AnsiText::NameKey(std::string_view name) {
  std::u16string units = Utf8ToUtf16(name);
  if (IsAscii(units)) {
    for (char16_t& unit : units) {
      if (unit >= 'a' && unit <= 'z') unit = static_cast<char16_t>(unit - 32);
    }
    return units;
  }
  if (!case_table_)
    case_table_ = std::make_unique<CaseTable>(case_table_source_());
  return case_table_->Key(units);
}

}  // namespace patcher
