// The text tables of a Wine prefix: the ANSI code page's c_<cp>.nls and
// the case table l_intl.nls, which Wine installs into every prefix's
// system32 folder.

#ifndef PATCHER_WINE_PREFIX_TABLES_H_
#define PATCHER_WINE_PREFIX_TABLES_H_

#include <string>

#include "text/case_table.h"
#include "text/code_page.h"

namespace patcher {

/// Returns the table of `code_page` from the prefix at `prefix`
/// (drive_c/windows/system32/c_<code_page>.nls); UTF-8 for 65001. Falls
/// back on the built-in Windows-1252 table when the file is missing,
/// cannot be read, is larger than any table or is not a whole table.
CodePage LoadCodePage(const std::string& prefix, unsigned code_page);

/// Returns the case table of the prefix at `prefix`
/// (drive_c/windows/system32/l_intl.nls), else one built from the C
/// library's data (see CaseTable).
CaseTable LoadCaseTable(const std::string& prefix);

}  // namespace patcher

#endif  // PATCHER_WINE_PREFIX_TABLES_H_
