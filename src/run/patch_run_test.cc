// Tests of the patch run on a platform in memory: its lines, boxes and exit
// statuses.

#include "run/patch_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

namespace patcher {
namespace {

const char kBanner[] =
    "Patcher 1.0\t\tNot made or supported by Quelvar\n"
    "   Written by the patcher team\n";

class PatchRunTest : public testing::Test {
 protected:
  void SetUp() override {
    platform_.AddString("Software\\Quelvar\\Torvane", "Install Dir",
                        "C:\\Game");
    platform_.files_["move.txt"] =
        "Replace the files?\\nThis cannot be undone.\ngame.exe\n"
        "a.mix,a.mix\nb.mix,Data\\b.mix\n";
    platform_.files_["a.mix"] = "new A";
    platform_.files_["b.mix"] = "new B";
    platform_.answers_ = {kAnswerYes};
  }

  /// Runs the patch; returns its exit status and keeps the console output.
  int Run() {
    FILE* out = tmpfile();
    int status = run_patch(&platform_, out);
    rewind(out);
    output_.clear();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, out)) > 0) output_.append(buf, n);
    fclose(out);
    return status;
  }

  FakePlatform platform_;
  std::string output_;
};

TEST_F(PatchRunTest, YesCopiesEveryEntry) {
  platform_.files_["C:\\Game\\a.mix"] = "old A";
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::string(kBanner) +
                "Game Installed in: 'C:\\Game'\n\n"
                "a.mix -> C:\\Game\\a.mix\n"
                "b.mix -> C:\\Game\\Data\\b.mix\n",
            output_);
  EXPECT_EQ(std::vector<std::string>(
                {"Warning|Replace the files?\nThis cannot be undone.",
                 "Success|Patch successful"}),
            BoxLines(platform_));
  EXPECT_EQ(kBoxYesNo, platform_.boxes_[0].type);
  EXPECT_EQ(kBoxOk, platform_.boxes_[1].type);
  EXPECT_EQ("new A", platform_.files_["C:\\Game\\a.mix"]);
  EXPECT_EQ("new B", platform_.files_["C:\\Game\\Data\\b.mix"]);
  EXPECT_TRUE(platform_.attributes_set_.empty());
}

TEST_F(PatchRunTest, OnlyYesCountsAsYes) {
  for (int answer : {7, 2, 1, -1, 0}) {
    platform_.answers_ = {answer};
    platform_.boxes_.clear();
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kBanner, output_);
    EXPECT_EQ(1u, platform_.boxes_.size());
    EXPECT_TRUE(platform_.copies_.empty());
  }
}

TEST_F(PatchRunTest, FailedChecksShowOneErrorAndReturnMinusTheResult) {
  platform_.files_.erase("b.mix");
  EXPECT_EQ(-2, Run());
  platform_.files_["move.txt"] = "";
  EXPECT_EQ(-3, Run());
  platform_.files_["move.txt"] = "msg\nexe\n";
  platform_.keys_.clear();
  EXPECT_EQ(-1, Run());
  EXPECT_EQ(kBanner, output_);
  EXPECT_TRUE(platform_.held_.empty()) << "no folder held for a failed check";
  EXPECT_EQ(std::vector<std::string>(
                {"Error|Verification failed.  Missing required patching "
                 "files.",
                 "Error|Verification failed.  Patching file corrupted.",
                 "Error|Cannot determine installation directory"}),
            BoxLines(platform_));
  EXPECT_TRUE(platform_.copies_.empty());
}

// The platform's warning that the game may be running comes after a check
// that passed and before the confirmation; anything but Yes ends the run as
// No does.
TEST_F(PatchRunTest, GameRunningWarningComesBetweenCheckAndConfirmation) {
  const std::string warning =
      std::string("Warning|") + FakePlatform::kGameRunningText;
  const std::string question =
      "Warning|Replace the files?\nThis cannot be undone.";
  struct Case {
    std::vector<int> answers;
    int status;
    std::vector<std::string> boxes;
    size_t copies;
  };
  const Case cases[] = {
      {{kAnswerNo}, 0, {warning}, 0},
      {{-1}, 0, {warning}, 0},
      {{kAnswerYes, kAnswerNo}, 0, {warning, question}, 0},
      {{kAnswerYes, kAnswerYes},
       0,
       {warning, question, "Success|Patch successful"},
       2},
  };
  for (const Case& c : cases) {
    SetUp();
    platform_.game_running_ = true;
    platform_.answers_ = c.answers;
    platform_.boxes_.clear();
    platform_.copies_.clear();
    platform_.held_.clear();
    EXPECT_EQ(c.status, Run());
    EXPECT_EQ(c.boxes, BoxLines(platform_));
    // The game's folder is held before anything is asked.
    EXPECT_EQ(std::vector<std::string>{"C:\\Game after 0 boxes"},
              platform_.held_);
    EXPECT_EQ(c.copies, platform_.copies_.size());
    if (c.copies == 0) {
      EXPECT_EQ(kBanner, output_);
    }
  }

  // A patch that cannot be applied never warns.
  platform_.boxes_.clear();
  platform_.files_.erase("b.mix");
  EXPECT_EQ(-2, Run());
  EXPECT_EQ(std::vector<std::string>(
                {"Error|Verification failed.  Missing required patching "
                 "files."}),
            BoxLines(platform_));
}

TEST_F(PatchRunTest, FailedCopiesAreReportedAndThePassGoesOn) {
  std::string list = "msg\nexe\n";
  for (int i = 1; i <= 5; ++i) {
    std::string name = "f" + std::to_string(i);
    list += name + "," + name + "\n";
    platform_.files_[name] = name;
  }
  platform_.files_["move.txt"] = list;
  platform_.fail_copy_to_ = {"C:\\Game\\f2", "C:\\Game\\f4"};
  EXPECT_EQ(1, Run());
  EXPECT_EQ(
      std::vector<std::string>(
          {"Warning|msg", "Error|Could not copy file: C:\\Game\\f2",
           "Error|Could not copy file: C:\\Game\\f4", "Failed|Patch failed."}),
      BoxLines(platform_));
  EXPECT_EQ(3u, platform_.copies_.size());
  EXPECT_NE(std::string::npos, output_.find("f5 -> C:\\Game\\f5\n"));
}

TEST_F(PatchRunTest, ReadOnlyDestinationLosesOnlyThatBitThenIsReplaced) {
  platform_.files_["C:\\Game\\a.mix"] = "old A";
  platform_.attributes_["C:\\Game\\a.mix"] = 0x21;  // read-only, archive
  EXPECT_EQ(0, Run());
  ASSERT_EQ(1u, platform_.attributes_set_.size());
  EXPECT_EQ("C:\\Game\\a.mix", platform_.attributes_set_[0].first);
  EXPECT_EQ(0x20u, platform_.attributes_set_[0].second);
  EXPECT_EQ("new A", platform_.files_["C:\\Game\\a.mix"]);
}

TEST_F(PatchRunTest, EmptyListStillSucceedsAndPathsAreNotNormalised) {
  platform_.keys_.clear();
  platform_.AddString("Software\\Quelvar\\Torvane", "Install Dir", "C:\\G\\");
  platform_.files_["move.txt"] = "msg\nexe\n";
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::string(kBanner) + "Game Installed in: 'C:\\G\\'\n\n", output_);
  EXPECT_EQ("Success|Patch successful", BoxLines(platform_).back());

  platform_.files_["move.txt"] = "msg\nexe\na.mix,\\a.mix\n";
  platform_.answers_ = {kAnswerYes};
  EXPECT_EQ(0, Run());
  EXPECT_EQ("new A", platform_.files_["C:\\G\\\\\\a.mix"]);
}

TEST_F(PatchRunTest, LineWithoutCommaIsAFailureThatWritesNothing) {
  platform_.files_["nocomma"] = "x";
  platform_.files_["move.txt"] = "msg\nexe\nnocomma\na.mix,a.mix\n";
  EXPECT_EQ(1, Run());
  EXPECT_EQ(std::vector<std::string>({"Warning|msg",
                                      "Error|Could not copy file: nocomma",
                                      "Failed|Patch failed."}),
            BoxLines(platform_));
  EXPECT_EQ(std::string::npos, output_.find("nocomma"));
  EXPECT_EQ(1u, platform_.copies_.size());
}

TEST_F(PatchRunTest, ListThatCannotBeOpenedAgainIsAFailure) {
  platform_.fail_opens_after_ = 1;
  EXPECT_EQ(1, Run());
  EXPECT_EQ(kBanner, output_);
  EXPECT_EQ("Failed|Patch failed.", BoxLines(platform_).back());
  EXPECT_TRUE(platform_.copies_.empty());
}

TEST_F(PatchRunTest, LongDestinationPathIsShownWhole) {
  std::string dest(1017, 'd');  // the longest that fits a list line
  platform_.files_["move.txt"] = "msg\nexe\na.mix," + dest + "\n";
  platform_.fail_copy_to_ = {"C:\\Game\\" + dest};
  EXPECT_EQ(1, Run());
  EXPECT_EQ("Error|Could not copy file: C:\\Game\\" + dest,
            BoxLines(platform_)[1]);
}

TEST_F(PatchRunTest, CopiesAreAnnouncedAheadInListOrder) {
  platform_.files_["nocomma"] = "x";
  platform_.files_["move.txt"] =
      "msg\nexe\na.mix,a.mix\nnocomma\nb.mix,Data\\b.mix\n";
  EXPECT_EQ(1, Run());
  EXPECT_EQ(std::vector<std::string>({"announce a.mix -> C:\\Game\\a.mix",
                                      "announce b.mix -> C:\\Game\\Data\\b.mix",
                                      "copy a.mix -> C:\\Game\\a.mix",
                                      "copy b.mix -> C:\\Game\\Data\\b.mix"}),
            platform_.copy_calls_);
}

TEST_F(PatchRunTest, TheCheckPlansTheCopiesThatFollowInTheirOrder) {
  platform_.files_["nocomma"] = "x";
  platform_.files_["move.txt"] =
      "msg\nexe\nb.mix,b.mix\nnocomma\na.mix,Data\\a.mix\n";
  EXPECT_EQ(1, Run());
  EXPECT_EQ(std::vector<std::string>({"b.mix", "a.mix"}), platform_.planned_);
  ASSERT_EQ(2u, platform_.copies_.size());
  EXPECT_EQ("b.mix", platform_.copies_[0].first);
  EXPECT_EQ("a.mix", platform_.copies_[1].first);
}

TEST_F(PatchRunTest, ALongListIsAnnouncedAFewEntriesAhead) {
  std::string list = "msg\nexe\n";
  for (int i = 0; i < 300; ++i) {
    std::string name = "f" + std::to_string(i);
    list += name + "," + name + "\n";
    platform_.files_[name] = name;
  }
  platform_.files_["move.txt"] = list;
  EXPECT_EQ(0, Run());
  ASSERT_EQ(600u, platform_.copy_calls_.size());
  // Each copy comes after its own announcement and at most 256 others.
  size_t announced = 0, copied = 0;
  for (const std::string& call : platform_.copy_calls_) {
    if (call.compare(0, 9, "announce ") == 0) {
      EXPECT_EQ("announce f" + std::to_string(announced) + " -> C:\\Game\\f" +
                    std::to_string(announced),
                call);
      ++announced;
      EXPECT_LE(announced, copied + 256);
    } else {
      EXPECT_EQ("copy f" + std::to_string(copied) + " -> C:\\Game\\f" +
                    std::to_string(copied),
                call);
      ++copied;
      EXPECT_LE(copied, announced);
    }
  }
  EXPECT_EQ(300u, copied);
}

}  // namespace
}  // namespace patcher
