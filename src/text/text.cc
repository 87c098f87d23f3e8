// ASCII case, UTF-8 and UTF-16.

#include "text/text.h"

#include <string>
#include <string_view>

namespace patcher {

namespace {

bool IsSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

}  // namespace

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = ToLowerAscii(c);
  return lower;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

size_t DecodeUtf8(std::string_view text, uint32_t* code_point) {
  if (text.empty()) return 0;
  unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t len = Utf8SequenceLength(lead);
  if (len == 0 || text.size() < len) return 0;
  static constexpr unsigned char kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  uint32_t cp = lead & kLeadBits[len];
  for (size_t i = 1; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3F);
  }
  if (cp < kMin[len] || cp > 0x10FFFF || IsSurrogate(cp)) return 0;
  *code_point = cp;
  return len;
}

bool IsValidUtf8(std::string_view text) {
  uint32_t cp;
  for (size_t i = 0; i < text.size();) {
    size_t len = DecodeUtf8(text.substr(i), &cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | cp >> 6);
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | cp >> 12);
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | cp >> 18);
    *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int Utf16Decoder::Put(uint16_t unit, uint32_t out[2]) {
  int n = 0;
  if (high_ != 0) {
    uint16_t high = high_;
    high_ = 0;
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      out[0] = 0x10000 + ((high - 0xD800u) << 10) + (unit - 0xDC00u);
      return 1;
    }
    out[n++] = kReplacementCharacter;
  }
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    high_ = unit;
  } else {
    out[n++] = IsSurrogate(unit) ? kReplacementCharacter : unit;
  }
  return n;
}

int Utf16Decoder::Finish(uint32_t* out) {
  if (high_ == 0) return 0;
  high_ = 0;
  *out = kReplacementCharacter;
  return 1;
}

std::u16string Utf16LeUnits(std::string_view data) {
  std::u16string units(data.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] =
        static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                              static_cast<unsigned char>(data[2 * i + 1]) << 8);
  }
  return units;
}

std::string Utf16LeToUtf8(std::string_view data) {
  return Utf16ToUtf8(Utf16LeUnits(data));
}

int EncodeUtf16(uint32_t code_point, char16_t out[2]) {
  if (code_point < 0x10000) {
    out[0] = static_cast<char16_t>(code_point);
    return 1;
  }
  out[0] = static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF));
  return 2;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  Utf16Decoder decoder;
  uint32_t cps[2];
  for (char16_t unit : text) {
    for (int k = 0, n = decoder.Put(unit, cps); k < n; ++k)
      AppendUtf8(cps[k], &out);
  }
  if (decoder.Finish(cps)) AppendUtf8(cps[0], &out);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t len = DecodeUtf8(text.substr(i), &cp);
    if (len == 0) {
      cp = kReplacementCharacter;
      len = 1;
    }
    char16_t units[2];
    out.append(units, EncodeUtf16(cp, units));
    i += len;
  }
  return out;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace patcher
