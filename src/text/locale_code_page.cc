// The ANSI code page Wine gives a Unix locale.

#include "text/locale_code_page.h"

#include <string>
#include <string_view>

#include "text/code_page.h"
#include "text/text.h"

namespace patcher {

namespace {

// Wine's locale table, as measured with Wine 8 (languages it gives 1252 and
// languages it does not know are left out).
struct LanguageCodePage {
  const char* language;
  unsigned code_page;
};
constexpr LanguageCodePage kLanguages[] = {
    {"pl", 1250},          {"cs", 1250},          {"sk", 1250},
    {"hu", 1250},          {"ro", 1250},          {"hr", 1250},
    {"sl", 1250},          {"ru", 1251},          {"uk", 1251},
    {"be", 1251},          {"bg", 1251},          {"mk", 1251},
    {"el", 1253},          {"tr", 1254},          {"he", 1255},
    {"ar", 1256},          {"fa", 1256},          {"ur", 1256},
    {"et", 1257},          {"lv", 1257},          {"lt", 1257},
    {"vi", 1258},          {"th", 874},           {"ja", 932},
    {"ko", 949},           {"kk", kCodePageUtf8}, {"hi", kCodePageUtf8},
    {"ka", kCodePageUtf8}, {"hy", kCodePageUtf8},
};

}  // namespace

std::string_view CtypeLocaleName(const char* lc_all, const char* lc_ctype,
                                 const char* lang) {
  for (const char* name : {lc_all, lc_ctype, lang}) {
    if (name && *name) return name;
  }
  return "C";
}

unsigned AnsiCodePageOfLocale(std::string_view name) {
  size_t at = name.find('@');
  std::string_view modifier =
      at == std::string_view::npos ? "" : name.substr(at + 1);
  name = name.substr(0, name.find_first_of(".@"));
  size_t cut = name.find('_');
  std::string language = ToLowerAscii(name.substr(0, cut));
  std::string territory =
      cut == std::string_view::npos ? "" : ToLowerAscii(name.substr(cut + 1));

  if (language == "zh") {
    return territory == "tw" || territory == "hk" || territory == "mo" ? 950
                                                                       : 936;
  }
  // Serbian in Latin letters; in Cyrillic Wine's table has no entry.
  if (language == "sr") return ToLowerAscii(modifier) == "latin" ? 1250 : 1252;
  for (const LanguageCodePage& entry : kLanguages) {
    if (language == entry.language) return entry.code_page;
  }
  return 1252;
}

}  // namespace patcher
