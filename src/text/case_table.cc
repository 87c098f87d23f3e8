// Windows' upper case read from l_intl.nls or built from the C library.

#include "text/case_table.h"

#include <locale.h>
#include <wctype.h>

#include <string>
#include <string_view>

namespace patcher {

namespace {

constexpr size_t kUnits = 0x10000;

bool IsAsciiUnit(char16_t unit) { return unit < 0x80; }

uint16_t WordAt(std::string_view data, size_t i) {
  return static_cast<uint16_t>(static_cast<unsigned char>(data[2 * i]) |
                               static_cast<unsigned char>(data[2 * i + 1])
                                   << 8);
}

}  // namespace

CaseTable::CaseTable() : upper_(kUnits) {
  for (size_t u = 0; u < kUnits; ++u) {
    upper_[u] = u >= 'a' && u <= 'z' ? static_cast<char16_t>(u - 'a' + 'A')
                                     : static_cast<char16_t>(u);
  }
}

void CaseTable::Set(char16_t unit, char16_t upper) {
  if (IsAsciiUnit(unit) || IsAsciiUnit(upper)) return;
  upper_[unit] = upper;
}

CaseTable CaseTable::FromCLibrary() {
  CaseTable table;
#ifndef _WIN32  // the Windows build leaves matching names to Windows
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (utf8 == nullptr) return table;
  for (wint_t u = 0x80; u < kUnits; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    wint_t upper = towupper_l(u, utf8);
    if (upper < kUnits && towlower_l(upper, utf8) == u)
      table.Set(static_cast<char16_t>(u), static_cast<char16_t>(upper));
  }
  freelocale(utf8);
#endif
  return table;
}

bool CaseTable::Parse(std::string_view nls, CaseTable* out) {
  // Word 0 is 1; word 1 is the upper table's size in words, that word
  // included; its data follows. The data is a three-level lookup: word
  // `u >> 8` is the offset of a row of 16 words, whose word `(u >> 4) & 15`
  // is the offset of a row of 16 deltas, whose word `u & 15` is added to u.
  // Offsets count in words from the start of the data.
  size_t words = nls.size() / 2;
  if (words < 2 || WordAt(nls, 0) != 1) return false;
  size_t size = WordAt(nls, 1);
  if (size < 1 || 1 + size > words) return false;
  std::string_view data = nls.substr(4, 2 * (size - 1));
  size_t data_words = size - 1;
  if (data_words < 256) return false;
  CaseTable table;
  for (size_t u = 0; u < kUnits; ++u) {
    size_t row = WordAt(data, u >> 8);
    if (row + 16 > data_words) return false;
    size_t deltas = WordAt(data, row + ((u >> 4) & 15));
    if (deltas + 16 > data_words) return false;
    uint16_t delta = WordAt(data, deltas + (u & 15));
    table.Set(static_cast<char16_t>(u), static_cast<char16_t>(u + delta));
  }
  *out = std::move(table);
  return true;
}

std::u16string CaseTable::Key(std::u16string_view name) const {
  std::u16string key(name);
  for (char16_t& unit : key) unit = upper_[unit];
  return key;
}

}  // namespace patcher
