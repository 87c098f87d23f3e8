// Tests of ASCII case and of UTF-8 and UTF-16 conversions.

#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace patcher {
namespace {

TEST(CaseTest, FoldsAsciiLettersOnly) {
  EXPECT_EQ(ToLowerAscii("MOVE.Txt"), "move.txt");
  EXPECT_EQ(ToLowerAscii("@[`{AZ"), "@[`{az");
  EXPECT_EQ(ToLowerAscii("\xC3\x84X"), "\xC3\x84x");
  EXPECT_TRUE(
      EqualsIgnoringAsciiCase("Software\\Quelvar", "SOFTWARE\\quelvar"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("ab", "abc"));
}

TEST(Utf8Test, DecodesWholeShortestSequencesOnly) {
  const struct {
    std::string text;
    size_t length;  // 0: not a sequence
    uint32_t code_point;
  } kCases[] = {
      {"A", 1, 0x41},
      {"\xC3\xA9x", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"", 0, 0},
      {"\x80", 0, 0},              // a continuation byte
      {"\xC0\xAF", 0, 0},          // overlong
      {"\xE0\x80\xAF", 0, 0},      // overlong
      {"\xED\xA0\x80", 0, 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // beyond U+10FFFF
      {"\xE2\x82", 0, 0},          // cut short
      {"\xE2(\xAC", 0, 0},         // not continued
  };
  for (const auto& c : kCases) {
    uint32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(c.text, &cp), c.length) << c.text;
    if (c.length) {
      EXPECT_EQ(cp, c.code_point) << c.text;
      std::string encoded;
      AppendUtf8(cp, &encoded);
      EXPECT_EQ(encoded, c.text.substr(0, c.length));
    }
  }
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xE2\x82\xAC"));
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));
}

TEST(Utf16Test, JoinsPairsAndReplacesLoneSurrogates) {
  EXPECT_EQ(Utf16LeToUtf8(std::string("C\0:\0\xE9\0", 6)), "C:\xC3\xA9");
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x3D\xD8\x00\xDE", 4)),
            "\xF0\x9F\x98\x80");
  // A high surrogate before a letter, a low one alone, a high one at the end,
  // and an odd last byte.
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x3D\xD8"
                                      "a\0"
                                      "\x00\xDE"
                                      "\x3D\xD8"
                                      "\x41",
                                      9)),
            "\xEF\xBF\xBD"
            "a"
            "\xEF\xBF\xBD"
            "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace patcher
