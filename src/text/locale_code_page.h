// Which ANSI code page Wine gives a process, from the Unix locale it starts
// in.

#ifndef PATCHER_TEXT_LOCALE_CODE_PAGE_H_
#define PATCHER_TEXT_LOCALE_CODE_PAGE_H_

#include <string_view>

namespace patcher {

/// Returns the name of the locale that decides the character type: the
/// first of `lc_all`, `lc_ctype` and `lang` (LC_ALL, LC_CTYPE, LANG) that is
/// set and not empty, else "C".
std::string_view CtypeLocaleName(const char* lc_all, const char* lc_ctype,
                                 const char* lang);

/// Returns the ANSI code page that Wine uses in the locale `name`
/// (language[_territory][.charset][@modifier]): the language, the territory
/// and a `@latin` modifier decide, the charset does not. C, POSIX, an empty
/// name and languages Wine does not know give 1252; languages without an
/// ANSI code page give 65001 (UTF-8).
unsigned AnsiCodePageOfLocale(std::string_view name);

}  // namespace patcher

#endif  // PATCHER_TEXT_LOCALE_CODE_PAGE_H_
