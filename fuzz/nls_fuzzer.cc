// Feeds arbitrary bytes to the readers of Wine's table files (c_<cp>.nls,
// l_intl.nls), as whole files or as changes to well-formed ones, and runs
// the conversions and the case rule of a table that was taken on the rest
// of the input. A table is either refused or safe to use; the conversions
// keep their bounds (no more units than bytes, ASCII as it is, UTF-8 out).
//
// Input: a mode byte; for the modes that change a well-formed table, 8
// changes of 4 bytes (a 24-bit offset into the table and the byte to put
// there); then the text to convert.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "test_util.h"
#include "text/ansi_text.h"
#include "text/case_table.h"
#include "text/code_page.h"
#include "text/text.h"

namespace patcher {
namespace {

const std::string& SingleByte() {
  static const std::string* nls = [] {
    NlsCodePage table;
    table.number = 1251;
    table.bytes = {{0xC0, u'\u0410'}, {0xE0, u'\u0430'}, {0x98, 0xD800}};
    table.units = {{u'\u0410', 0xC0}, {u'\u0141', 'L'}};
    return new std::string(MakeCodePageNls(table));
  }();
  return *nls;
}

const std::string& DoubleByte() {
  static const std::string* nls = [] {
    NlsCodePage table;
    table.number = 932;
    table.pairs = {{0x95, {{0x5C, u'\u8868'}}}, {0x81, {{0x40, u'\u3000'}}}};
    table.units = {{u'\u8868', 0x955C}, {u'\u3000', 0x8140}};
    return new std::string(MakeCodePageNls(table));
  }();
  return *nls;
}

const std::string& Case() {
  static const std::string* nls = new std::string(MakeCaseNls(
      {{u'\u00E9', u'\u00C9'}, {u'\u0451', u'\u0401'}, {u'\u0131', u'I'}}));
  return *nls;
}

/// Returns `table` with the changes the input gives.
std::string Changed(std::string table, FuzzedDataProvider* input) {
  for (int i = 0; i < 8; ++i) {
    uint32_t offset = input->ConsumeIntegralInRange<uint32_t>(0, 0xFFFFFF);
    table[offset % table.size()] =
        static_cast<char>(input->ConsumeIntegral<uint8_t>());
  }
  return table;
}

void CheckCodePage(const CodePage& cp, const std::string& text) {
  std::u16string units = cp.ToUtf16(text);
  FUZZ_CHECK(units.size() <= text.size());
  FUZZ_CHECK(cp.CompleteLength(text) <= text.size());
  FUZZ_CHECK(cp.FromUtf16(units).size() <= 3 * units.size());
  AnsiText ansi([&cp] { return cp; }, [] { return CaseTable(); });
  std::string utf8 = ansi.ToUtf8(text);
  FUZZ_CHECK(IsValidUtf8(utf8));
  if (IsAscii(text)) {
    FUZZ_CHECK(utf8 == text);
    FUZZ_CHECK(ansi.FromUtf16(ansi.ToUtf16(text)) == text);
  }
}

void CheckCaseTable(const CaseTable& table, const std::string& text) {
  std::u16string units = Utf8ToUtf16(text);
  std::u16string key = table.Key(units);
  FUZZ_CHECK(key.size() == units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    bool ascii = units[i] < 0x80;
    FUZZ_CHECK(ascii == (key[i] < 0x80));
    if (ascii) {
      char16_t c = units[i];
      FUZZ_CHECK(key[i] == (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
  }
}

}  // namespace
}  // namespace patcher

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace patcher;
  FuzzedDataProvider input(data, size);
  uint8_t mode = input.ConsumeIntegral<uint8_t>() % 6;
  std::string nls;
  switch (mode) {
    case 0:  // a whole code page file
    case 1:  // a whole case table file
      nls = input.ConsumeRemainingBytesAsString();
      break;
    case 2:
      nls = Changed(SingleByte(), &input);
      break;
    case 3:
      nls = Changed(DoubleByte(), &input);
      break;
    case 4:
      nls = Changed(Case(), &input);
      break;
    case 5: {  // a well-formed table cut short
      const std::string& whole = input.ConsumeBool() ? DoubleByte() : Case();
      nls = whole.substr(0,
                         input.ConsumeIntegralInRange<size_t>(0, whole.size()));
      mode = &whole == &Case() ? 1 : 0;
      break;
    }
  }
  std::string text = input.ConsumeRemainingBytesAsString();
  if (mode == 0 || mode == 2 || mode == 3) {
    CodePage cp = CodePage::Utf8();
    if (CodePage::Parse(nls, &cp)) {
      CheckCodePage(cp, text.empty() ? nls.substr(0, 64) : text);
    } else {
      FUZZ_CHECK(cp.number() == kCodePageUtf8);
    }
    CheckCodePage(CodePage::Utf8(), text);
  } else {
    CaseTable table;
    if (CaseTable::Parse(nls, &table)) CheckCaseTable(table, text);
    static const CaseTable* c_library =
        new CaseTable(CaseTable::FromCLibrary());
    CheckCaseTable(*c_library, text);
  }
  return 0;
}
