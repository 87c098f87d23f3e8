// Tests of reading a prefix's text tables.

#include "wine/prefix_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace patcher {
namespace {

class PrefixTablesTest : public testing::Test, public ScratchDir {
 protected:
  void SetUp() override {
    for (const char* dir :
         {"prefix", "prefix/drive_c", "prefix/drive_c/windows",
          "prefix/drive_c/windows/system32"})
      MakeDir(dir);
  }
  void Table(const std::string& name, const std::string& data) {
    Write("prefix/drive_c/windows/system32/" + name, data);
  }
};

TEST_F(PrefixTablesTest, ReadsThePrefixsTablesElseFallsBack) {
  NlsCodePage nls;
  nls.number = 1251;
  nls.bytes = {{0xC0, u'\u0410'}};
  std::string whole = MakeCodePageNls(nls);
  Table("c_1251.nls", whole);
  Table("c_1250.nls", whole.substr(0, whole.size() / 2));  // cut short
  Table("c_1257.nls", std::string(2 << 20, '\0'));         // far too large
  const struct {
    unsigned code_page;
    std::u16string c0;  // what byte 0xC0 reads as
  } kCases[] = {
      {1251, u"\u0410"},  {1250, u"\u00C0"},  // Windows-1252, built in
      {1257, u"\u00C0"},  {1253, u"\u00C0"},  // no such file
      {65001, u"\uFFFD"},                     // UTF-8 has no table
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(LoadCodePage(Path("prefix"), c.code_page).ToUtf16("\xC0"), c.c0)
        << c.code_page;
  }
  EXPECT_EQ(LoadCodePage("", 1251).ToUtf16("\xC0"), u"\u00C0");

  // A case table cut short gives way to the C library's.
  Table("l_intl.nls", MakeCaseNls({{u'\u00E9', u'\u00C9'}}).substr(0, 600));
  EXPECT_EQ(LoadCaseTable(Path("prefix")).Key(u"\u00E9\u0451"),
            u"\u00C9\u0401");
  Table("l_intl.nls", MakeCaseNls({{u'\u00E9', u'\u00C9'}}));
  EXPECT_EQ(LoadCaseTable(Path("prefix")).Key(u"\u00E9\u0451"),
            u"\u00C9\u0451");
}

}  // namespace
}  // namespace patcher
