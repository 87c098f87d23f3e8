// Tests of ANSI text: conversions and names matched ignoring case, tables
// fetched only when needed.

#include "text/ansi_text.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

// An AnsiText in Windows-1252 that counts how often it fetched each table.
struct CountingText {
  int code_pages = 0;
  int case_tables = 0;
  AnsiText text{[this] {
                  ++code_pages;
                  return CodePage::Windows1252();
                },
                [this] {
                  ++case_tables;
                  return CaseTable::FromCLibrary();
                }};
};

TEST(AnsiTextTest, AsciiNeedsNoTable) {
  CountingText t;
  EXPECT_EQ(t.text.ToUtf8("Data\\maps.mix"), "Data\\maps.mix");
  EXPECT_EQ(t.text.ToUtf16("C:\\x"), u"C:\\x");
  EXPECT_EQ(t.text.FromUtf16(u"C:\\Games"), "C:\\Games");
  EXPECT_EQ(t.text.NameKey("Maps.mix"), u"MAPS.MIX");
  EXPECT_EQ(t.code_pages, 0);
  EXPECT_EQ(t.case_tables, 0);
}

TEST(AnsiTextTest, FetchesEachTableOnceWhenFirstNeeded) {
  CountingText t;
  EXPECT_EQ(t.text.ToUtf8("Donn\xE9"
                          "es"),
            "Donn\xC3\xA9"
            "es");
  EXPECT_EQ(t.text.FromUtf16(u"\u00E9t\u00E9"), "\xE9t\xE9");
  EXPECT_EQ(t.code_pages, 1);
  EXPECT_EQ(t.case_tables, 0);
  // Host names are UTF-8; a byte that is not reads as U+FFFD.
  EXPECT_EQ(t.text.NameKey("\xC3\xA9t\xC3\xA9.txt"), u"\u00C9T\u00C9.TXT");
  EXPECT_EQ(t.text.NameKey("a\xE9"), u"A\uFFFD");
  EXPECT_EQ(t.case_tables, 1);
}

TEST(AnsiTextTest, Windows1252BytesAsUtf8) {
  // What desktop dialogs are given; UTF-8 bytes are Windows-1252 bytes too.
  CountingText t;
  const struct {
    std::string ansi;
    std::string utf8;
  } kCases[] = {
      {"plain <b>&\\n", "plain <b>&\\n"},
      {"caf\xE9 \x80 \x81", "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81"},
      {"caf\xC3\xA9", "caf\xC3\x83\xC2\xA9"},
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
      {"a\xE2\x82", "a\xC3\xA2\xE2\x80\x9A"},
  };
  for (const auto& c : kCases) EXPECT_EQ(t.text.ToUtf8(c.ansi), c.utf8);
}

}  // namespace
}  // namespace patcher
