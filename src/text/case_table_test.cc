// Tests of Windows' upper case, from Wine's table and built in.

#include "text/case_table.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

TEST(CaseTableTest, ReadTableAndCLibraryAgreeWithWine) {
  CaseTable read;
  ASSERT_TRUE(CaseTable::Parse(MakeCaseNls({{u'\u00E9', u'\u00C9'},
                                            {u'\u0451', u'\u0401'},
                                            {u'\u00FF', u'\u0178'},
                                            {u'\u0131', u'I'},
                                            {u'i', u'\u0130'}}),
                               &read));
  // Wine's table as measured: é, ё and ÿ have capitals; ß, ı, ſ, µ and ς
  // keep their case. A mapping into or out of ASCII is not taken.
  const std::u16string kName =
      u"\u00E9t\u00E9\u0451\u00FF\u00DF\u0131\u017F\u00B5\u03C2i";
  const std::u16string kKey =
      u"\u00C9T\u00C9\u0401\u0178\u00DF\u0131\u017F\u00B5\u03C2I";
  EXPECT_EQ(read.Key(kName), kKey);
  EXPECT_EQ(CaseTable::FromCLibrary().Key(kName), kKey);
  EXPECT_EQ(CaseTable().Key(kName),
            u"\u00E9T\u00E9\u0451\u00FF\u00DF\u0131\u017F\u00B5\u03C2I");
}

TEST(CaseTableTest, RefusesTablesThatAreNotWhole) {
  const std::string nls = MakeCaseNls({{u'\u00E9', u'\u00C9'}});
  auto with_word = [](std::string data, size_t index, uint16_t value) {
    data[2 * index] = static_cast<char>(value & 0xFF);
    data[2 * index + 1] = static_cast<char>(value >> 8);
    return data;
  };
  const std::string kBad[] = {
      "",
      nls.substr(0, 3),
      nls.substr(0, nls.size() / 2),
      with_word(nls, 0, 2),              // not version 1
      with_word(nls, 1, 0xFFFF),         // larger than the file
      with_word(nls, 1, 100),            // too small for the first level
      with_word(nls, 2 + 0x00, 0xFFF0),  // a row beyond the table
      with_word(nls, 2 + 272, 0xFFF0),   // deltas beyond the table
  };
  for (const std::string& data : kBad) {
    CaseTable table;
    EXPECT_FALSE(CaseTable::Parse(data, &table)) << data.size();
    EXPECT_EQ(table.Key(u"a\u00E9"), u"A\u00E9");
  }
}

}  // namespace
}  // namespace patcher
