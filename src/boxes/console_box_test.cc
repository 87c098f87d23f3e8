// Tests of boxes on the console.

#include "boxes/console_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace patcher {
namespace {

/// Shows one box with `input` on standard input; returns the answer and
/// keeps what was written.
int Box(const char* text, BoxType type, const std::string& input,
        std::string* written) {
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  fwrite(input.data(), 1, input.size(), in);
  rewind(in);
  int answer = ConsoleBox(text, "Warning", type, in, out);
  rewind(out);
  char buf[256];
  size_t n = fread(buf, 1, sizeof buf, out);
  written->assign(buf, n);
  fclose(in);
  fclose(out);
  return answer;
}

TEST(ConsoleBoxTest, OnlyYOrYesInAnyCaseIsYes) {
  std::string written;
  for (const char* yes : {"y\n", "Y\n", "yes\n", "YeS\r\n", "y"})
    EXPECT_EQ(kAnswerYes, Box("t", kBoxYesNo, yes, &written)) << yes;
  for (const char* no : {"", "\n", "n\n", "yes please\n", " y\n", "yy\n"})
    EXPECT_NE(kAnswerYes, Box("t", kBoxYesNo, no, &written)) << no;
  EXPECT_NE(kAnswerYes,
            Box("t", kBoxYesNo, std::string(100, 'y') + "\ny\n", &written));
}

TEST(ConsoleBoxTest, CaptionLineThenTextAsItStands) {
  std::string written;
  EXPECT_EQ(kAnswerOk, Box("Line one\n\tTabbed", kBoxOk, "y\n", &written));
  EXPECT_EQ("Warning\nLine one\n\tTabbed\n", written);
}

}  // namespace
}  // namespace patcher
