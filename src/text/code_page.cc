// Code pages read from Wine's c_<cp>.nls, built in for Windows-1252, or UTF-8.

#include "text/code_page.h"

#include <string>
#include <string_view>

#include "text/text.h"

namespace patcher {

namespace {

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined map to the
// code point of the same number, as Windows maps them. The other bytes are
// their own code points.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The layout of a c_<cp>.nls file, in 16-bit little-endian words: a header
// of kHeaderWords (its size is word 0), whose last word is the distance
// from itself to the flag word that precedes the Unicode-to-bytes table;
// then 256 words byte to UTF-16; a glyph table size (0, or 256 words that
// follow); the number of lead-byte ranges, 0 for a single-byte code page;
// for a double-byte one, 256 words giving each lead byte's trail table as a
// word offset from the start of those 256 words, and the trail tables.
constexpr size_t kHeaderWords = 13;
constexpr size_t kUnicodeUnits = 0x10000;

class Words {
 public:
  explicit Words(std::string_view data) : data_(data) {}
  size_t size() const { return data_.size() / 2; }
  uint16_t operator[](size_t i) const {
    return static_cast<uint16_t>(static_cast<unsigned char>(data_[2 * i]) |
                                 static_cast<unsigned char>(data_[2 * i + 1])
                                     << 8);
  }

 private:
  std::string_view data_;
};

}  // namespace

CodePage CodePage::Windows1252() {
  CodePage cp;
  cp.number_ = 1252;
  cp.to_unicode_.resize(256);
  cp.from_unicode_.assign(kUnicodeUnits, '?');
  for (unsigned b = 0; b < 256; ++b) {
    uint16_t unit = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
    cp.to_unicode_[b] = unit;
    cp.from_unicode_[unit] = static_cast<uint16_t>(b);
  }
  cp.trail_table_.assign(256, -1);
  return cp;
}

CodePage CodePage::Utf8() {
  CodePage cp;
  cp.number_ = kCodePageUtf8;
  cp.utf8_ = true;
  return cp;
}

bool CodePage::Parse(std::string_view nls, CodePage* out) {
  Words w(nls);
  size_t pos = kHeaderWords + 1;  // the byte-to-UTF-16 table
  if (w.size() < pos + 256 + 2 || w[0] != kHeaderWords) return false;
  CodePage cp;
  cp.number_ = w[1];
  for (size_t b = 0; b < 256; ++b) cp.to_unicode_.push_back(w[pos + b]);
  pos += 256;
  if (w[pos] != 0 && w[pos] != 256) return false;
  pos += 1 + w[pos];
  if (pos >= w.size()) return false;
  cp.double_byte_ = w[pos] != 0;
  cp.trail_table_.assign(256, -1);
  size_t flag = kHeaderWords + w[kHeaderWords];  // just before that table
  if (flag >= w.size()) return false;
  if (cp.double_byte_) {
    // The trail tables lie between the lead bytes' offsets and the flag.
    size_t offsets = pos + 1;
    if (offsets + 256 > flag) return false;
    for (size_t b = 0; b < 256; ++b) {
      size_t offset = w[offsets + b];
      if (offset == 0) continue;
      if (offsets + offset + 256 > flag) return false;
      cp.trail_table_[b] = static_cast<int32_t>(cp.trails_.size());
      for (size_t t = 0; t < 256; ++t)
        cp.trails_.push_back(w[offsets + offset + t]);
    }
  }
  size_t table = flag + 1;
  cp.from_unicode_.resize(kUnicodeUnits);
  if (cp.double_byte_) {
    if (table + kUnicodeUnits > w.size()) return false;
    for (size_t u = 0; u < kUnicodeUnits; ++u)
      cp.from_unicode_[u] = w[table + u];
  } else {
    if (2 * table + kUnicodeUnits > nls.size()) return false;
    for (size_t u = 0; u < kUnicodeUnits; ++u)
      cp.from_unicode_[u] = static_cast<unsigned char>(nls[2 * table + u]);
  }
  *out = std::move(cp);
  return true;
}

bool CodePage::IsLeadByte(unsigned char byte) const {
  return double_byte_ && trail_table_[byte] >= 0;
}

size_t CodePage::CompleteLength(std::string_view bytes) const {
  size_t n = bytes.size();
  if (utf8_) {
    size_t start = n;
    while (start > 0 && n - start < 4 &&
           (static_cast<unsigned char>(bytes[start - 1]) & 0xC0) == 0x80)
      --start;
    if (start == 0) return n;
    size_t want =
        Utf8SequenceLength(static_cast<unsigned char>(bytes[start - 1]));
    return want > n - (start - 1) ? start - 1 : n;
  }
  if (!double_byte_) return n;
  size_t i = 0;
  while (i < n) {
    if (!IsLeadByte(static_cast<unsigned char>(bytes[i]))) {
      ++i;
    } else if (i + 1 < n) {
      i += 2;
    } else {
      return i;
    }
  }
  return n;
}

std::u16string CodePage::ToUtf16(std::string_view bytes) const {
  if (utf8_) return Utf8ToUtf16(bytes);
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (IsLeadByte(b) && i + 1 < bytes.size()) {
      unsigned char trail = static_cast<unsigned char>(bytes[++i]);
      out += static_cast<char16_t>(trails_[trail_table_[b] + trail]);
    } else {
      out += static_cast<char16_t>(to_unicode_[b]);
    }
  }
  return out;
}

std::string CodePage::FromUtf16(std::u16string_view text) const {
  if (utf8_) return Utf16ToUtf8(text);
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) {
    uint16_t bytes = from_unicode_[unit];
    if (double_byte_ && bytes > 0xFF) out += static_cast<char>(bytes >> 8);
    out += static_cast<char>(bytes & 0xFF);
  }
  return out;
}

}  // namespace patcher
