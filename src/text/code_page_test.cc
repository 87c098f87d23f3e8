// Tests of code pages: reading Wine's tables and converting as the A functions
// do.

#include "text/code_page.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

// A Cyrillic single-byte table in the manner of 1251, with one best fit.
CodePage Cyrillic() {
  NlsCodePage nls;
  nls.number = 1251;
  nls.bytes = {{0xC0, u'\u0410'}, {0xE0, u'\u0430'}, {0xB8, u'\u0451'}};
  nls.units = {{u'\u0410', 0xC0},
               {u'\u0430', 0xE0},
               {u'\u0451', 0xB8},
               {u'\u0141', 'L'}};
  CodePage cp;
  EXPECT_TRUE(CodePage::Parse(MakeCodePageNls(nls), &cp));
  return cp;
}

// A double-byte table in the manner of Shift-JIS (932).
CodePage ShiftJis() {
  NlsCodePage nls;
  nls.number = 932;
  nls.bytes = {{0xB1, u'\uFF71'}};
  nls.pairs = {{0x95, {{0x5C, u'\u8868'}}}, {0x93, {{0xFA, u'\u65E5'}}}};
  nls.units = {{u'\u8868', 0x955C},
               {u'\u65E5', 0x93FA},
               {u'\uFF71', 0xB1},
               {u'\u00E9', 'e'}};
  CodePage cp;
  EXPECT_TRUE(CodePage::Parse(MakeCodePageNls(nls), &cp));
  return cp;
}

TEST(CodePageTest, ConvertsBothWays) {
  const struct {
    CodePage cp;
    std::string bytes;
    std::u16string text;
  } kCases[] = {
      {CodePage::Windows1252(),
       "Donn\xE9"
       "es \x80\x81",
       u"Donn\u00E9es \u20AC\u0081"},
      {Cyrillic(), "\xC0\xE0\xB8 a", u"\u0410\u0430\u0451 a"},
      // The 0x5C of a pair is its trail byte, not a backslash.
      {ShiftJis(), "\x95\x5C\\\x93\xFA\xB1", u"\u8868\\\u65E5\uFF71"},
      {CodePage::Utf8(), "\xC3\xA9\xF0\x9F\x98\x80", u"\u00E9\U0001F600"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.cp.ToUtf16(c.bytes), c.text) << c.cp.number();
    EXPECT_EQ(c.cp.FromUtf16(c.text), c.bytes) << c.cp.number();
  }
}

TEST(CodePageTest, BestFitThenDefaultCharacter) {
  EXPECT_EQ(Cyrillic().FromUtf16(u"\u0141\u00E9\u4E00"), "L??");
  EXPECT_EQ(ShiftJis().FromUtf16(u"\u00E9\u00E8"), "e?");
  // The built-in table has the exact mappings only.
  EXPECT_EQ(CodePage::Windows1252().FromUtf16(u"\u0141\U0001F600"), "???");
  EXPECT_EQ(CodePage::Utf8().FromUtf16(u"a\xD800"
                                       "b"),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(CodePageTest, ReadsBytesOutsidePairsAlone) {
  CodePage sjis = ShiftJis();
  EXPECT_TRUE(sjis.IsLeadByte(0x95));
  EXPECT_FALSE(sjis.IsLeadByte(0xB1));
  // A trail the table lacks, a lead byte at the end.
  EXPECT_EQ(sjis.ToUtf16("\x95\x41"), u"\u30FB");
  EXPECT_EQ(sjis.ToUtf16(std::string("a\x95", 2)), std::u16string(u"a\0", 2));
  EXPECT_EQ(CodePage::Utf8().ToUtf16("a\xE9\xE2\x82"), u"a\uFFFD\uFFFD\uFFFD");
}

TEST(CodePageTest, RefusesTablesThatAreNotWhole) {
  NlsCodePage nls;
  nls.pairs = {{0x81, {{0x40, u'\u3000'}}}};
  const std::string dbcs = MakeCodePageNls(nls);
  const std::string sbcs = MakeCodePageNls(NlsCodePage());
  auto with_word = [](std::string data, size_t index, uint16_t value) {
    data[2 * index] = static_cast<char>(value & 0xFF);
    data[2 * index + 1] = static_cast<char>(value >> 8);
    return data;
  };
  const std::string kBad[] = {
      "", sbcs.substr(0, 540), sbcs.substr(0, sbcs.size() - 1),
      dbcs.substr(0, dbcs.size() - 1), dbcs.substr(0, 600),
      with_word(sbcs, 0, 12),       // header size
      with_word(sbcs, 13, 0xFFFF),  // where the Unicode table starts
      // Cut in its trail tables, its Unicode table said to lie beyond: the
      // trail tables must not be read (AddressSanitizer tells).
      with_word(dbcs.substr(0, 1200), 13, 0x8000),
      with_word(sbcs, 270, 5),              // glyph table size
      with_word(dbcs, 272 + 0x81, 0xFFFF),  // a trail table's offset
  };
  for (const std::string& data : kBad) {
    CodePage cp = CodePage::Windows1252();
    EXPECT_FALSE(CodePage::Parse(data, &cp)) << data.size();
    EXPECT_EQ(cp.number(), 1252u);
    EXPECT_EQ(cp.ToUtf16("\xE9"), u"\u00E9");
  }
}

}  // namespace
}  // namespace patcher
