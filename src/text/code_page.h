// A Windows code page: the table that turns its bytes into UTF-16 and back,
// read from one of Wine's c_<cp>.nls files, built in for Windows-1252, or
// UTF-8. The conversions are those of the A functions (CreateFileA,
// RegQueryValueExA), which pass no flags and report nothing.

#ifndef PATCHER_TEXT_CODE_PAGE_H_
#define PATCHER_TEXT_CODE_PAGE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace patcher {

/// The number of the UTF-8 code page, which has no table.
constexpr unsigned kCodePageUtf8 = 65001;

class CodePage {
 public:
  /// Windows-1252, built in: the exact mappings, and `?` for every other
  /// character (without the best fits that Wine's own table adds).
  static CodePage Windows1252();

  /// UTF-8 (65001).
  static CodePage Utf8();

  /// Reads the bytes of a c_<cp>.nls file. Returns true with `*out` set when
  /// they hold a whole single- or double-byte table; false, with `*out` left
  /// as it was, for anything else (cut short, an offset out of range, a
  /// header that is not a table's). Never reads outside `nls`.
  static bool Parse(std::string_view nls, CodePage* out);

  /// The code page's number (1252, 932, 65001, ...).
  unsigned number() const { return number_; }

  /// Tells whether `byte` starts a two-byte character.
  bool IsLeadByte(unsigned char byte) const;

  /// Returns the length of the longest start of `bytes` that ends at the
  /// end of a character: all of it but a lead byte, or a UTF-8 sequence,
  /// cut short at its end.
  size_t CompleteLength(std::string_view bytes) const;

  /// Returns `bytes` as UTF-16. A lead byte followed by another byte takes
  /// the pair's character; otherwise each byte its own entry. In UTF-8, each
  /// byte outside a whole sequence becomes U+FFFD.
  std::u16string ToUtf16(std::string_view bytes) const;

  /// Returns `text` in this code page: each unit's exact mapping, else the
  /// table's best fit, else its default character; a two-byte result lead
  /// byte first. In UTF-8 a lone surrogate becomes U+FFFD.
  std::string FromUtf16(std::u16string_view text) const;

 private:
  unsigned number_ = 0;
  bool utf8_ = false;
  std::vector<uint16_t> to_unicode_;    // by byte
  std::vector<int32_t> trail_table_;    // by byte: start in trails_, or -1
  std::vector<uint16_t> trails_;        // 256 entries per lead byte
  std::vector<uint16_t> from_unicode_;  // by unit: a byte, or lead << 8 | trail
  bool double_byte_ = false;
};

}  // namespace patcher

#endif  // PATCHER_TEXT_CODE_PAGE_H_
