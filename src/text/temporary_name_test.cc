// Tests of the names of a run's temporaries.

#include "text/temporary_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace patcher {
namespace {

TEST(TemporaryNameTest, KnownAsOursAndDifferentPerNumber) {
  std::set<std::string> seen;
  for (uint64_t random : {0ull, 1ull, 61ull, 62ull, 0x9E3779B97F4A7C15ull}) {
    std::string temp = TemporaryName("maps.mix", random);
    EXPECT_EQ(temp.rfind(".maps.mix.patcher-", 0), 0u) << temp;
    EXPECT_EQ(temp.size(), 24u) << temp;
    EXPECT_TRUE(IsTemporaryName(temp)) << temp;
    EXPECT_TRUE(seen.insert(temp).second) << temp;
  }
  // A name of 255 bytes still gives one that a file system takes.
  std::string temp = TemporaryName(std::string(255, 'n'), 7);
  EXPECT_LE(temp.size(), 255u);
  EXPECT_TRUE(IsTemporaryName(temp)) << temp;
}

TEST(TemporaryNameTest, OnlyOurOwnNamingIsOurs) {
  const std::pair<const char*, bool> cases[] = {
      {".maps.mix.patcher-Ab12Cd", true},
      {".x.patcher-000000", true},
      {".a.b.patcher-zzzzzz", true},
      {"maps.mix.patcher-Ab12Cd", false},  // not hidden
      {".patcher-Ab12Cd", false},          // no name before it
      {"..patcher-Ab12Cd", false},
      {".maps.mix.patcher-Ab12C", false},    // five
      {".maps.mix.patcher-Ab12Cde", false},  // seven
      {".maps.mix.patcher-Ab12C-", false},
      {".maps.mix.patcher-Ab12C\xe9", false},
      {".maps.mix.patcher_Ab12Cd", false},
      {".maps.mix.PATCHER-Ab12Cd", false},
      {".maps.mix.Ab12Cd", false},  // another program's
      {".maps.mix", false},
      {"pat1A2B.tmp", false},  // what GetTempFileNameA makes
  };
  for (const auto& [name, ours] : cases)
    EXPECT_EQ(IsTemporaryName(name), ours) << name;
}

}  // namespace
}  // namespace patcher
