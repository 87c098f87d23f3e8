// Tests of the choice of desktop dialogs and of the arguments they get.

#include "boxes/desktop_dialog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace patcher {
namespace {

TEST(ClassifyInputTest, OnlyClosedNullOrExhaustedFileOfferNothing) {
  int null_fd = open("/dev/null", O_RDONLY);
  EXPECT_EQ(InputKind::kNothing, ClassifyInput(null_fd));
  close(null_fd);
  EXPECT_EQ(InputKind::kNothing, ClassifyInput(null_fd));  // now closed

  // A pipe may still bring an answer, even before anything was written.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  EXPECT_EQ(InputKind::kData, ClassifyInput(fds[0]));
  ASSERT_EQ(2, write(fds[1], "y\n", 2));
  EXPECT_EQ(InputKind::kData, ClassifyInput(fds[0]));
  close(fds[0]);
  close(fds[1]);

  // A regular file offers nothing once read to its end; an empty one too.
  FILE* file = tmpfile();
  int fd = fileno(file);
  EXPECT_EQ(InputKind::kNothing, ClassifyInput(fd));
  ASSERT_EQ(2, write(fd, "y\n", 2));
  ASSERT_EQ(0, lseek(fd, 0, SEEK_SET));
  EXPECT_EQ(InputKind::kData, ClassifyInput(fd));
  ASSERT_EQ(2, lseek(fd, 2, SEEK_SET));
  EXPECT_EQ(InputKind::kNothing, ClassifyInput(fd));
  fclose(file);

  // Other character devices are not taken for /dev/null.
  int zero_fd = open("/dev/zero", O_RDONLY);
  EXPECT_EQ(InputKind::kData, ClassifyInput(zero_fd));
  close(zero_fd);
}

TEST(ClassifyInputTest, TerminalCanAsk) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminals here";
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  EXPECT_EQ(InputKind::kTerminal, ClassifyInput(slave));
  close(slave);
  close(master);
}

TEST(ChooseDialogProgramTest, DialogsOnlyWithoutInputOnADesktop) {
  DesktopFacts facts;
  facts.input = InputKind::kNothing;
  facts.display = ":0";
  facts.has_zenity = true;
  facts.has_kdialog = true;
  EXPECT_EQ(DialogProgram::kZenity, ChooseDialogProgram(facts));

  // Whoever can answer on the console keeps the console.
  facts.input = InputKind::kTerminal;
  EXPECT_EQ(DialogProgram::kNone, ChooseDialogProgram(facts));
  facts.input = InputKind::kData;
  EXPECT_EQ(DialogProgram::kNone, ChooseDialogProgram(facts));
  facts.input = InputKind::kNothing;

  // A Wayland session counts; empty variables do not.
  facts.display = "";
  EXPECT_EQ(DialogProgram::kNone, ChooseDialogProgram(facts));
  facts.wayland_display = "wayland-0";
  EXPECT_EQ(DialogProgram::kZenity, ChooseDialogProgram(facts));
  facts.display = nullptr;
  EXPECT_EQ(DialogProgram::kZenity, ChooseDialogProgram(facts));

  // kdialog when zenity is missing; the console when both are.
  facts.has_zenity = false;
  EXPECT_EQ(DialogProgram::kKdialog, ChooseDialogProgram(facts));
  facts.has_kdialog = false;
  EXPECT_EQ(DialogProgram::kNone, ChooseDialogProgram(facts));
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/desktop_dialog_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(templ));
    dir_ = templ;
  }
  void TearDown() override {
    ASSERT_EQ(0, system(("rm -rf '" + dir_ + "'").c_str()));
  }
  std::string Write(const std::string& name, const std::string& contents,
                    mode_t mode) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << contents;
    chmod(path.c_str(), mode);
    return path;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_;
};

TEST(LocaleIsUtf8Test, FirstSetVariableDecides) {
  EXPECT_TRUE(LocaleIsUtf8(nullptr, nullptr, "en_US.UTF-8"));
  EXPECT_TRUE(LocaleIsUtf8("", "de_DE.utf8", "C"));
  EXPECT_FALSE(LocaleIsUtf8("C", "C.UTF-8", "en_US.UTF-8"));
  EXPECT_FALSE(LocaleIsUtf8(nullptr, nullptr, "POSIX"));
  EXPECT_FALSE(LocaleIsUtf8(nullptr, nullptr, nullptr));
}

TEST(DialogArgumentsTest, ZenityShowsTextLiterallyInOneArgument) {
  const char* text = "-x <b>&amp;\n\tC:\\Games";
  EXPECT_EQ(
      (std::vector<std::string>{"zenity", "--question", "--title=Warning",
                                std::string("--text=") + text, "--no-markup"}),
      DialogArguments(DialogProgram::kZenity, text, "Warning", kBoxYesNo));
  EXPECT_EQ("--error",
            DialogArguments(DialogProgram::kZenity, "t", "Error", kBoxOk)[1]);
  EXPECT_EQ("--error",
            DialogArguments(DialogProgram::kZenity, "t", "Failed", kBoxOk)[1]);
  EXPECT_EQ("--info",
            DialogArguments(DialogProgram::kZenity, "t", "Success", kBoxOk)[1]);
  EXPECT_EQ(
      "--text=caf\xC3\xA9",
      DialogArguments(DialogProgram::kZenity, "caf\xC3\xA9", "W", kBoxOk)[3]);
}

TEST(DialogArgumentsTest, KdialogGetsEscapedRichText) {
  EXPECT_EQ((std::vector<std::string>{
                "kdialog", "--title", "Warning", "--yesno",
                "<qt><p style=\"white-space:pre-wrap\">a &lt;b&gt; &amp;amp; "
                "&quot;\n\tc\\n</p></qt>"}),
            DialogArguments(DialogProgram::kKdialog, "a <b> &amp; \"\n\tc\\n",
                            "Warning", kBoxYesNo));
  EXPECT_EQ("--error",
            DialogArguments(DialogProgram::kKdialog, "t", "Error", kBoxOk)[3]);
  EXPECT_EQ("--msgbox", DialogArguments(DialogProgram::kKdialog, "t", "Success",
                                        kBoxOk)[3]);
}

TEST(FolderChooserArgumentsTest, OpensInTheFolderGiven) {
  EXPECT_EQ(
      (std::vector<std::string>{"zenity", "--file-selection", "--directory",
                                "--title=Pick -x", "--filename=/home/u/"}),
      FolderChooserArguments(DialogProgram::kZenity, "Pick -x", "/home/u"));
  EXPECT_EQ((std::vector<std::string>{"kdialog", "--title", "Pick",
                                      "--getexistingdirectory", "/home/u"}),
            FolderChooserArguments(DialogProgram::kKdialog, "Pick", "/home/u"));
}

// A stand-in dialog program: records its arguments, one per line, and
// exits with the status named in the file "status".
using DesktopDialogsTest = ScratchDir;

TEST_F(DesktopDialogsTest, RunsTheProgramWithoutAShellAndReadsItsStatus) {
  std::string fake =
      Write("fake",
            "#!/bin/sh\nfor a; do printf '%s|' \"$a\"; done >\"$0.args\"\n"
            "echo noise; echo noise >&2\nexec sh -c \"$(cat \"$0.status\")\"\n",
            0755);
  DesktopDialogs dialogs(DialogProgram::kZenity, fake);
  int answer = 0;
  Write("fake.status", "exit 0", 0644);
  std::string text = "a'b $(touch " + dir_ + "/x) `y`";
  ASSERT_TRUE(dialogs.Show(text.c_str(), "Warning", kBoxYesNo, &answer));
  EXPECT_EQ(kAnswerYes, answer);
  EXPECT_EQ("--question|--title=Warning|--text=" + text + "|--no-markup|",
            Read("fake.args"));
  EXPECT_EQ(-1, access((dir_ + "/x").c_str(), F_OK));

  Write("fake.status", "exit 1", 0644);
  ASSERT_TRUE(dialogs.Show("t", "Warning", kBoxYesNo, &answer));
  EXPECT_EQ(kAnswerNo, answer);
  ASSERT_TRUE(dialogs.Show("t", "Error", kBoxOk, &answer));
  EXPECT_EQ(kAnswerOk, answer);

  // A program that fails or is killed showed nothing: the console takes over.
  Write("fake.status", "exit 255", 0644);
  EXPECT_FALSE(dialogs.Show("t", "Warning", kBoxYesNo, &answer));
  Write("fake.status", "kill -9 $$", 0644);
  EXPECT_FALSE(dialogs.Show("t", "Warning", kBoxYesNo, &answer));
  EXPECT_FALSE(DesktopDialogs(DialogProgram::kZenity, dir_ + "/missing")
                   .Show("t", "Warning", kBoxYesNo, &answer));
  EXPECT_FALSE(DesktopDialogs(DialogProgram::kNone, fake)
                   .Show("t", "Warning", kBoxYesNo, &answer));
}

TEST_F(DesktopDialogsTest, ChooseFolderReadsTheFolderPrinted) {
  std::string fake =
      Write("fake",
            "#!/bin/sh\nfor a; do printf '%s|' \"$a\"; done >\"$0.args\"\n"
            "exec sh -c \"$(cat \"$0.status\")\"\n",
            0755);
  DesktopDialogs dialogs(DialogProgram::kZenity, fake);
  struct Case {
    const char* script;
    const char* folder;  // null: none chosen
  };
  const Case cases[] = {
      {"printf '/home/u/Jeux \\303\\251t\\303\\251\\n'",
       "/home/u/Jeux \xC3\xA9t\xC3\xA9"},
      {"exit 1", nullptr},                  // Cancel
      {"printf '/x\\n'; exit 1", nullptr},  // printed, yet cancelled
      {"printf '/x\\n'; exit 5", nullptr},  // failed
      {"printf '/cut'", nullptr},           // no line end
      {"printf '\\n'", nullptr},            // nothing chosen
      {"kill -9 $$", nullptr},
  };
  for (const Case& c : cases) {
    Write("fake.status", c.script, 0644);
    std::string folder = "unset";
    EXPECT_EQ(c.folder != nullptr,
              dialogs.ChooseFolder("T", "/home/u", &folder))
        << c.script;
    if (c.folder) {
      EXPECT_EQ(c.folder, folder);
    }
  }
  EXPECT_EQ("--file-selection|--directory|--title=T|--filename=/home/u/|",
            Read("fake.args"));
  std::string folder;
  EXPECT_FALSE(DesktopDialogs(DialogProgram::kZenity, dir_ + "/missing")
                   .ChooseFolder("T", "/", &folder));
  EXPECT_FALSE(DesktopDialogs(DialogProgram::kNone, fake)
                   .ChooseFolder("T", "/", &folder));
}

}  // namespace
}  // namespace patcher
