// Text as the program meets it: ASCII case, and conversions between UTF-8
// and UTF-16, which Wine's registry and the host's file names use. Code
// pages and Windows' case rule are in code_page.h, case_table.h and
// ansi_text.h beside it. Every other file calls these; none writes its own.

#ifndef PATCHER_TEXT_TEXT_H_
#define PATCHER_TEXT_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace patcher {

/// The code point that stands for a character that cannot be read.
constexpr uint32_t kReplacementCharacter = 0xFFFD;

/// Returns `c` with an ASCII capital letter made small; other bytes as they
/// are.
inline char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Returns `text` with ASCII capital letters made small; other bytes as they
/// are. Two texts match ignoring ASCII case exactly when their results are
/// equal.
std::string ToLowerAscii(std::string_view text);

/// Returns the value of the hex digit `c` (0-9, a-f, A-F), or -1 when `c`
/// is not one (a negative `c`, an end of data, included).
inline int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Tells whether `a` and `b` are equal but for the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

/// Returns the number of bytes of the UTF-8 sequence that `lead` starts (1
/// to 4), or 0 when `lead` cannot start one (a continuation byte, 0xC0,
/// 0xC1 or 0xF5 and above).
size_t Utf8SequenceLength(unsigned char lead);

/// Decodes the UTF-8 sequence at the start of `text`. Returns its length in
/// bytes with `*code_point` set; 0 when the text is empty or does not start
/// with a whole, shortest-form sequence of a code point other than a
/// surrogate.
size_t DecodeUtf8(std::string_view text, uint32_t* code_point);

/// Tells whether `text` is UTF-8 throughout.
bool IsValidUtf8(std::string_view text);

/// Appends `code_point` (at most 0x10FFFF, not a surrogate) to `*out` as
/// UTF-8.
void AppendUtf8(uint32_t code_point, std::string* out);

/// Joins UTF-16 units, given one at a time, into code points. A surrogate
/// that is not half of a pair becomes kReplacementCharacter.
class Utf16Decoder {
 public:
  /// Takes the next unit. Returns how many code points it completes (0, 1,
  /// or 2 when a high surrogate was left alone), written to `out`.
  int Put(uint16_t unit, uint32_t out[2]);
  /// Ends the text. Returns 1 with `*out` set when a high surrogate was left
  /// alone, else 0.
  int Finish(uint32_t* out);

 private:
  uint16_t high_ = 0;  // a high surrogate waiting for its pair, or 0
};

/// Writes `code_point` (at most 0x10FFFF) to `out` as UTF-16: one unit, or a
/// surrogate pair above 0xFFFF. Returns the number of units written.
int EncodeUtf16(uint32_t code_point, char16_t out[2]);

/// Returns the UTF-16LE bytes `data` as units; an odd last byte is dropped.
std::u16string Utf16LeUnits(std::string_view data);

/// Returns the UTF-16LE bytes `data` (an odd last byte is dropped) as UTF-8.
std::string Utf16LeToUtf8(std::string_view data);

/// Returns `text` as UTF-8; a surrogate that is not half of a pair becomes
/// kReplacementCharacter.
std::string Utf16ToUtf8(std::u16string_view text);

/// Returns `text` as UTF-16, as Wine reads a host's file name: each byte
/// that does not belong to a whole UTF-8 sequence becomes one
/// kReplacementCharacter.
std::u16string Utf8ToUtf16(std::string_view text);

/// Tells whether every byte of `text` is below 0x80.
bool IsAscii(std::string_view text);

}  // namespace patcher

#endif  // PATCHER_TEXT_TEXT_H_
