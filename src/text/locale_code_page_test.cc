// Tests of the ANSI code page of a locale.

#include "text/locale_code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace patcher {
namespace {

TEST(LocaleCodePageTest, AsWineChoosesIt) {
  const struct {
    const char* locale;
    unsigned code_page;
  } kCases[] = {
      {"C", 1252},
      {"POSIX", 1252},
      {"", 1252},
      {"C.UTF-8", 1252},
      {"en_US.UTF-8", 1252},
      {"fr_FR@euro", 1252},
      {"xx_YY", 1252},
      {"pl_PL.UTF-8", 1250},
      {"ru_RU.KOI8-R", 1251},
      {"uk_UA", 1251},
      {"el_GR", 1253},
      {"tr_TR.UTF-8", 1254},
      {"he_IL", 1255},
      {"ar_EG", 1256},
      {"lt_LT", 1257},
      {"vi_VN", 1258},
      {"th_TH", 874},
      {"ja_JP.eucJP", 932},
      {"zh_CN.GB18030", 936},
      {"zh_SG", 936},
      {"ko_KR.UTF-8", 949},
      {"zh_TW.UTF-8", 950},
      {"zh_HK", 950},
      {"hi_IN", 65001},
      {"ka_GE.UTF-8", 65001},
      {"sr_RS@latin", 1250},
      {"sr_RS.UTF-8", 1252},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(AnsiCodePageOfLocale(c.locale), c.code_page) << c.locale;
}

TEST(LocaleCodePageTest, LcAllThenLcCtypeThenLang) {
  EXPECT_EQ(CtypeLocaleName("ja_JP", "ru_RU", "de_DE"), "ja_JP");
  EXPECT_EQ(CtypeLocaleName("", "ru_RU", "de_DE"), "ru_RU");
  EXPECT_EQ(CtypeLocaleName(nullptr, nullptr, "de_DE"), "de_DE");
  EXPECT_EQ(CtypeLocaleName(nullptr, "", nullptr), "C");
}

}  // namespace
}  // namespace patcher
