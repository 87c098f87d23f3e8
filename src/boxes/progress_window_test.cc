// Tests of the progress window: the share done, the lines fed to it, kdialog's
// calls, and stand-ins for zenity.

#include "boxes/progress_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "text/text.h"

namespace patcher {
namespace {

TEST(CopyShareTest, ByBytesWhenAllSizesAreKnownElseByEntries) {
  struct Case {
    const char* name;
    std::vector<int64_t> sizes;
    std::vector<int> percents;  // before any copy is done, then after each
  };
  const Case cases[] = {
      {"bytes", {100, 300, 600}, {0, 10, 40, 100}},
      {"one size unknown", {100, -1, 600}, {0, 33, 66, 100}},
      {"all empty", {0, 0, 0, 0}, {0, 25, 50, 75, 100}},
      {"100 only once all are done", {100, 0, 0}, {0, 99, 99, 100}},
      {"huge files", {int64_t{1} << 50, int64_t{1} << 50}, {0, 50, 100}},
      {"more copies than planned", {7}, {0, 100, 100, 100}},
      {"nothing planned", {}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    CopyShare share;
    for (int64_t size : c.sizes) share.Plan(size);
    std::vector<int> percents = {share.Percent()};
    while (percents.size() < c.percents.size()) {
      share.Done();
      percents.push_back(share.Percent());
    }
    EXPECT_EQ(c.percents, percents) << c.name;
  }
}

TEST(ZenityLinesTest, TextIsShownLiterallyInOneLine) {
  struct Case {
    std::string text;
    std::string line;
  };
  const Case cases[] = {
      // zenity reads backslash escapes in the text: "\G" would lose its
      // backslash and "\n" would break the line.
      {"a.mix -> C:\\Games\\new\\a.mix",
       "# a.mix -> C:\\\\Games\\\\new\\\\a.mix\n"},
      {"<b>&amp;</b> -x", "# <b>&amp;</b> -x\n"},  // no markup
      {"caf\xC3\xA9", "# caf\xC3\xA9\n"},
      {"", "# \n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.line, ZenityTextLine(c.text));
  EXPECT_EQ("0\n", ZenityPercentLine(-3));
  EXPECT_EQ("42\n", ZenityPercentLine(42));
  EXPECT_EQ("100\n", ZenityPercentLine(250));
}

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

TEST(ZenityLinesTest, LongTextIsCutAtAWholeCharacterToFitOneWrite) {
  // The longest line the run can make: a source and a destination path of
  // a list line each, with characters that grow in UTF-8 or when escaped.
  const std::string texts[] = {
      std::string(1023, 'x') + " -> " + Repeat("\xC3\xA9", 2047),
      std::string(3000, '\\') + "x",
      "a" + Repeat("\xE2\x82\xAC", 3000),
      Repeat("\xC3\xA2", 1500) + std::string(1500, '\\'),
  };
  for (const std::string& text : texts) {
    std::string line = ZenityTextLine(text);
    EXPECT_LE(line.size(), kFeedLineMax);
    EXPECT_GT(line.size(), kFeedLineMax - 8);
    ASSERT_EQ("...\n", line.substr(line.size() - 4));
    std::string shown = line.substr(2, line.size() - 6);
    EXPECT_TRUE(IsValidUtf8(shown));
    // Escaped backslashes come in pairs: a cut never splits one.
    size_t run = shown.size() - shown.find_last_not_of('\\') - 1;
    EXPECT_EQ(0u, run % 2);
  }
  // One that just fits is not cut.
  std::string fits(kFeedLineMax - 3, 'x');
  EXPECT_EQ("# " + fits + "\n", ZenityTextLine(fits));
}

TEST(ZenityLinesTest, WindowHasNoCancelAndGoesWhenItsInputEnds) {
  EXPECT_EQ(
      (std::vector<std::string>{"zenity", "--title=Patching", "--progress",
                                "--text=", "--percentage=0", "--no-cancel",
                                "--auto-close", "--width=500"}),
      ZenityProgressArguments());
}

TEST(KdialogTest, ReferenceIsAServiceAndAnObjectPath) {
  struct Case {
    const char* output;
    bool ok;
  };
  const Case cases[] = {
      {"org.kde.kdialog-123 /ProgressDialog\n", true},
      {"org.kde.kdialog-123 /ProgressDialog", false},  // cut short
      {"", false},
      {"\n", false},
      {" /ProgressDialog\n", false},
      {"org.kde.kdialog-123\n/ProgressDialog\n", false},
      {"org.kde.kdialog-123 ProgressDialog\n", false},
      {"org.kde.kdialog-123 /a b\n", false},
  };
  for (const Case& c : cases) {
    KdialogReference reference;
    EXPECT_EQ(c.ok, ParseKdialogReference(c.output, &reference)) << c.output;
    if (c.ok) {
      EXPECT_EQ("org.kde.kdialog-123", reference.service);
      EXPECT_EQ("/ProgressDialog", reference.path);
    }
  }
}

TEST(KdialogTest, CallsNameTheDialogAndShowTextLiterally) {
  KdialogReference at{"org.kde.kdialog-9", "/ProgressDialog"};
  std::vector<std::string> call = {"dbus-send",
                                   "--session",
                                   "--print-reply=literal",
                                   "--reply-timeout=2000",
                                   "--dest=org.kde.kdialog-9",
                                   "/ProgressDialog"};
  auto with = [&call](std::vector<std::string> rest) {
    std::vector<std::string> all = call;
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
  };
  EXPECT_EQ(with({"org.kde.kdialog.ProgressDialog.setLabelText",
                  "string:<qt><p style=\"white-space:pre-wrap\">a &lt;b&gt; "
                  "C:\\x caf\xC3\xA9</p></qt>"}),
            KdialogTextArguments(at, "a <b> C:\\x caf\xC3\xA9"));
  EXPECT_EQ(with({"org.freedesktop.DBus.Properties.Set",
                  "string:org.kde.kdialog.ProgressDialog", "string:value",
                  "variant:int32:100"}),
            KdialogPercentArguments(at, 101));
  EXPECT_EQ(with({"org.kde.kdialog.ProgressDialog.close"}),
            KdialogCloseArguments(at));
  EXPECT_EQ((std::vector<std::string>{
                "kdialog", "--title", "Patching", "--progressbar",
                "<qt><p style=\"white-space:pre-wrap\">a</p></qt>", "100"}),
            KdialogProgressArguments("a"));
}

// Stand-ins for zenity: shell scripts that record their arguments, how
// often they were started and what they were fed.
class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/progress_window_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(templ));
    dir_ = templ;
  }
  void TearDown() override {
    ASSERT_EQ(0, system(("rm -rf '" + dir_ + "'").c_str()));
  }
  std::string Fake(const std::string& name, const std::string& body) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\nprintf '%s|' \"$@\" >\"$0.args\"\n"
                           "echo >>\"$0.starts\"\n"
                        << body;
    chmod(path.c_str(), 0755);
    return path;
  }
  std::string Read(const std::string& name) {
    std::stringstream s;
    s << std::ifstream(dir_ + "/" + name).rdbuf();
    return s.str();
  }
  bool WaitForFile(const std::string& name) {
    for (int i = 0; i < 500; ++i) {
      if (access((dir_ + "/" + name).c_str(), F_OK) == 0) return true;
      usleep(10000);
    }
    return false;
  }
  std::string dir_;
};

TEST_F(ProgressWindowTest, FeedsTextAndChangedPercentagesUntilClosed) {
  // Started with SIGTERM ignored, it ends at the end of its input, with all
  // of it read.
  std::string fake = Fake("zenity", "exec cat >\"$0.fed\"\n");
  struct IgnoreTerm {
    IgnoreTerm() { old = signal(SIGTERM, SIG_IGN); }
    ~IgnoreTerm() { signal(SIGTERM, old); }
    sighandler_t old;
  } ignore_term;
  ProgressWindow window(DialogProgram::kZenity, fake);
  ASSERT_TRUE(window.enabled());
  window.SetPercent(5);  // not open yet: nothing to show it in
  window.Show("a.mix -> C:\\Game\\a.mix", 0);
  window.SetPercent(50);
  window.SetPercent(50);
  window.Show("b.mix -> C:\\Game\\b.mix", 50);
  window.Close();
  EXPECT_EQ(
      "# a.mix -> C:\\\\Game\\\\a.mix\n0\n50\n# b.mix -> C:\\\\Game\\\\b.mix\n",
      Read("zenity.fed"));
  EXPECT_EQ(
      "--title=Patching|--progress|--text=|--percentage=0|--no-cancel|"
      "--auto-close|--width=500|",
      Read("zenity.args"));

  // Closed before a box, it opens again at the next copy.
  window.SetPercent(60);
  window.Show("c -> d", 60);
  window.Close();
  window.Close();
  EXPECT_EQ("# c -> d\n60\n", Read("zenity.fed"));
  EXPECT_EQ("\n\n", Read("zenity.starts"));
}

TEST_F(ProgressWindowTest, WindowClosedByTheUserStaysClosed) {
  // It closes its input, as zenity does when its window is closed, and
  // lives on until it is ended.
  std::string fake =
      Fake("zenity", "exec 0<&-\ntouch \"$0.closed\"\nexec sleep 30\n");
  ProgressWindow window(DialogProgram::kZenity, fake);
  window.Show("a -> b", 0);
  ASSERT_TRUE(WaitForFile("zenity.closed"));
  window.SetPercent(10);  // finds the window gone, without SIGPIPE
  window.Show("c -> d", 10);
  window.Close();
  window.Show("e -> f", 20);
  EXPECT_EQ("\n", Read("zenity.starts"));
}

TEST_F(ProgressWindowTest, ProgramThatCannotStartIsNotTriedAgain) {
  std::string fake = Fake("zenity", "");
  ASSERT_EQ(0, chmod(fake.c_str(), 0644));  // not executable
  ProgressWindow window(DialogProgram::kZenity, fake);
  window.Show("a -> b", 0);
  ASSERT_EQ(0, chmod(fake.c_str(), 0755));
  window.Close();
  window.Show("c -> d", 50);
  EXPECT_EQ("", Read("zenity.starts"));

  ProgressWindow none(DialogProgram::kNone, fake);
  EXPECT_FALSE(none.enabled());
  none.Show("a -> b", 0);
  EXPECT_EQ("", Read("zenity.starts"));
}

}  // namespace
}  // namespace patcher
