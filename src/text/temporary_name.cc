// The names of a run's temporaries (see temporary_name.h).

#include "text/temporary_name.h"

#include <algorithm>
#include <string>

namespace patcher {

namespace {

constexpr char kTag[] = ".patcher-";
constexpr size_t kTagLength = sizeof kTag - 1;
constexpr size_t kRandomChars = 6;
constexpr size_t kNameKept = 200;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

}  // namespace

std::string TemporaryName(const std::string& name, uint64_t random) {
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string temp = "." + name.substr(0, kNameKept) + kTag;
  for (size_t i = 0; i < kRandomChars; ++i, random /= 62)
    temp += kChars[random % 62];
  return temp;
}

bool IsTemporaryName(const std::string& name) {
  if (name.size() < 2 + kTagLength + kRandomChars || name[0] != '.')
    return false;
  size_t tag = name.size() - kRandomChars - kTagLength;
  if (name.compare(tag, kTagLength, kTag) != 0) return false;
  return std::all_of(name.end() - kRandomChars, name.end(), IsAsciiAlnum);
}

}  // namespace patcher
