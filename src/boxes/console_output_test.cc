// Tests of standard output in the console's encoding.

#include "boxes/console_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "test_util.h"

namespace patcher {
namespace {

// Writes each of `writes` through a UTF-8 output for `code_page`, flushing
// after each, and returns what reached the underlying file.
std::string Through(const CodePage& code_page,
                    const std::vector<std::string>& writes) {
  AnsiText text([code_page] { return code_page; }, [] { return CaseTable(); });
  FILE* file = tmpfile();
  FILE* out = OpenConsoleOutput(&text, file, stderr);
  EXPECT_NE(out, nullptr);
  for (const std::string& w : writes) {
    fwrite(w.data(), 1, w.size(), out);
    fflush(out);
  }
  EXPECT_EQ(fclose(out), 0);
  std::string got(4096, '\0');
  rewind(file);
  got.resize(fread(&got[0], 1, got.size(), file));
  fclose(file);
  return got;
}

TEST(ConsoleOutputTest, AnsiTextReachesTheConsoleAsUtf8) {
  NlsCodePage nls;
  nls.pairs = {{0x95, {{0x5C, u'\u8868'}}}};
  CodePage sjis;
  ASSERT_TRUE(CodePage::Parse(MakeCodePageNls(nls), &sjis));
  const struct {
    CodePage code_page;
    std::vector<std::string> writes;
    std::string console;
  } kCases[] = {
      {CodePage::Windows1252(),
       {"Game Installed in: 'C:\\x'\n\n"},
       "Game Installed in: 'C:\\x'\n\n"},
      {CodePage::Windows1252(),
       {"carte \xE9.mix -> C:\\Donn\xE9"
        "es\n"},
       "carte \xC3\xA9.mix -> C:\\Donn\xC3\xA9"
       "es\n"},
      // A character cut between two writes, and one cut at the end.
      {sjis, {"a\x95", "\x5C\n"}, "a\xE8\xA1\xA8\n"},
      {sjis, {"a\x95"}, std::string("a\0", 2)},
      {CodePage::Utf8(),
       {"\xC3", "\xA9\n\xE2\x82"},
       "\xC3\xA9\n\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(Through(c.code_page, c.writes), c.console)
        << c.code_page.number();
}

// Returns what was written to `file` since it was made.
std::string Contents(FILE* file) {
  std::string got(4096, '\0');
  rewind(file);
  got.resize(fread(&got[0], 1, got.size(), file));
  return got;
}

// A reader that goes away stops the lines, says so once, and fails nothing:
// the run goes on to the end of the patch.
TEST(ConsoleOutputTest, ClosedReaderIsToldOnceAndFailsNothing) {
  struct sigaction ignore = {}, old;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  for (bool utf8 : {true, false}) {
    AnsiText text([] { return CodePage::Windows1252(); },
                  [] { return CaseTable(); });
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* pipe_out = fdopen(fds[1], "w");
    FILE* err = tmpfile();
    FILE* out = OpenConsoleOutput(utf8 ? &text : nullptr, pipe_out, err);
    ASSERT_NE(out, nullptr);
    EXPECT_GT(fprintf(out, "a -> C:\\a\n"), 0);
    EXPECT_EQ(fflush(out), 0);
    char line[16];
    EXPECT_EQ(read(fds[0], line, sizeof line), 10);
    close(fds[0]);
    for (int i = 0; i < 3; ++i) {
      EXPECT_GT(fprintf(out, "b -> C:\\b\n"), 0);
      EXPECT_EQ(fflush(out), 0);
    }
    EXPECT_EQ(fclose(out), 0);
    EXPECT_EQ(Contents(err),
              "patcher: standard output is closed; the patch goes on "
              "without its progress lines\n");
    fclose(err);
    fclose(pipe_out);
  }
  sigaction(SIGPIPE, &old, nullptr);
}

}  // namespace
}  // namespace patcher
