// Tests of reading the home folder from /etc/passwd.

#include "linux/passwd.h"

#include <gtest/gtest.h>

#include <string>

namespace patcher {
namespace {

TEST(HomeFromPasswdTest, FindsTheUsersLine) {
  const std::string passwd =
      "root:x:0:0:root:/root:/bin/bash\n"
      "# a comment:x:1000:1000::/nowhere:\n"
      "nis+:x:10000:1:::\n"
      "ann:x:1000:1000:Ann,,,:/home/ann:/bin/bash\n"
      "dup:x:1000:1000::/home/dup:/bin/sh\n"
      "short:x:1001\n"
      "nohome:x:1002:1002:::/bin/sh\n"
      "last:x:65534:65534::/nonexistent:/usr/sbin/nologin";
  struct {
    unsigned long uid;
    const char* home;
  } cases[] = {
      {0, "/root"},
      {1000, "/home/ann"},      // past the comment; the first line wins
      {1001, ""},               // too few fields
      {1002, ""},               // empty home
      {100, ""},                // no line; "10000" is not 100
      {65534, "/nonexistent"},  // the last line, without a line end
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.home, HomeFromPasswd(passwd, c.uid)) << c.uid;
  EXPECT_EQ("", HomeFromPasswd("", 0));
}

}  // namespace
}  // namespace patcher
