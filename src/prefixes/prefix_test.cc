// Tests of the prefix named by the environment.

#include "prefixes/prefix.h"

#include <gtest/gtest.h>

namespace patcher {
namespace {

TEST(FindWinePrefixTest, WinePrefixThenProtonThenHome) {
  EXPECT_EQ("/p", FindWinePrefix("/p", "/steam/42", "/home/u"));
  EXPECT_EQ("/steam/42/pfx", FindWinePrefix("", "/steam/42", "/home/u"));
  EXPECT_EQ("/steam/42/pfx", FindWinePrefix(nullptr, "/steam/42", "/home/u"));
  EXPECT_EQ("/home/u/.wine", FindWinePrefix(nullptr, "", "/home/u"));
  EXPECT_EQ("", FindWinePrefix(nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace patcher
