// Windows' upper case of UTF-16 units, by which it matches names ignoring
// case: read from Wine's l_intl.nls, or built from the C library's Unicode
// data.

#ifndef PATCHER_TEXT_CASE_TABLE_H_
#define PATCHER_TEXT_CASE_TABLE_H_

#include <string>
#include <string_view>
#include <vector>

namespace patcher {

class CaseTable {
 public:
  /// The upper case of ASCII letters only.
  CaseTable();

  /// Built from the C library's data (the C.UTF-8 locale): a unit's upper
  /// case when its lower case is the unit again, else the unit itself. This
  /// is Wine's rule: it keeps U+00B5, U+0131, U+017F and U+03C2, whose upper
  /// cases belong to other small letters. Only ASCII when the C library has
  /// no C.UTF-8, and in the Windows build.
  static CaseTable FromCLibrary();

  /// Reads the upper-case table of an l_intl.nls file. Returns true with
  /// `*out` set when the table is whole; false, with `*out` left as it was,
  /// when it is cut short or an offset points outside it. Never reads
  /// outside `nls`.
  static bool Parse(std::string_view nls, CaseTable* out);

  /// Returns the upper case of `unit`. ASCII units always take ASCII's
  /// rule, and no other unit becomes ASCII: in Wine's table the two never
  /// meet, so a name in ASCII matches only names in ASCII.
  char16_t ToUpper(char16_t unit) const { return upper_[unit]; }

  /// Returns `name` with every unit in upper case: two names match ignoring
  /// case, as Windows matches them, exactly when their keys are equal (the
  /// same number of units, each equal in upper case; no normalisation, no
  /// full case folding).
  std::u16string Key(std::u16string_view name) const;

 private:
  /// Sets the upper case of `unit` to `upper` unless that breaks the ASCII
  /// rule.
  void Set(char16_t unit, char16_t upper);

  std::vector<char16_t> upper_;  // by unit
};

}  // namespace patcher

#endif  // PATCHER_TEXT_CASE_TABLE_H_
