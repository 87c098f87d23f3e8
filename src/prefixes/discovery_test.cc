// Tests of choosing the prefix that holds the game and of the warning while
// programs run in it.

#include "prefixes/discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace patcher {
namespace {

class DiscoveryTest : public testing::Test, public ScratchDir {
 protected:
  /// A candidate whose system.reg changed at `seconds`; with an
  /// installation directory it holds the game.
  PrefixCandidate Candidate(const std::string& name, time_t seconds,
                            const std::string& install_dir,
                            const std::string& steam_name = "") {
    MakeDir(name);
    Write(name + "/system.reg", "WINE REGISTRY Version 2\n");
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    EXPECT_EQ(
        0, utimensat(AT_FDCWD, Path(name + "/system.reg").c_str(), times, 0));
    if (!install_dir.empty()) games_[Path(name)] = install_dir;
    return PrefixCandidate{Path(name), steam_name};
  }

  /// Chooses among `candidates`; keeps what went to standard error.
  bool Choose(const std::vector<PrefixCandidate>& candidates,
              std::string* chosen) {
    FILE* err = tmpfile();
    GameLocator locate = [this](const std::string& prefix,
                                std::string* install_dir) {
      located_.push_back(prefix);
      auto it = games_.find(prefix);
      if (it == games_.end()) return false;
      *install_dir = it->second;
      return true;
    };
    FolderChooser choose_folder;
    if (!folders_.empty()) {
      choose_folder = [this](const std::string& title, std::string* folder) {
        titles_.push_back(title);
        if (titles_.size() > folders_.size() ||
            folders_[titles_.size() - 1].empty())
          return false;  // cancelled
        *folder = folders_[titles_.size() - 1];
        return true;
      };
    }
    bool result = ChoosePrefix(candidates, locate, "/home/u/.wine", &boxes_,
                               nullptr, err, chosen, choose_folder);
    rewind(err);
    char buf[4096];
    err_.assign(buf, fread(buf, 1, sizeof buf, err));
    fclose(err);
    return result;
  }

  std::string Question(const std::string& dir, const std::string& prefix) {
    return "Warning|The game is installed in more than one Wine prefix.\n\n"
           "Patch the copy in " +
           dir + "\nin the prefix " + prefix + "?";
  }

  std::map<std::string, std::string> games_;  // prefix -> installation dir
  std::vector<std::string> located_;
  /// The chooser's answers in turn: a folder, or empty for Cancel.
  std::vector<std::string> folders_;
  std::vector<std::string> titles_;  // of each chooser shown
  FakePlatform boxes_;
  std::string err_;
};

TEST_F(DiscoveryTest, FoundNowhereThePlayerChoosesTheFolder) {
  // A folder that is no prefix, a prefix without the game, then the game's.
  for (const char* dir : {"b", "c", "c/drive_c", "c/dosdevices", "g",
                          "g/drive_c", "g/dosdevices"})
    MakeDir(dir);
  for (const char* file :
       {"c/system.reg", "c/user.reg", "g/system.reg", "g/user.reg"})
    Write(file, "WINE REGISTRY Version 2\n");
  games_[Path("g")] = "C:\\Games\\T";
  folders_ = {Path("b"), Path("c"), Path("g")};
  std::string chosen;
  EXPECT_TRUE(Choose({Candidate("a", 100, "")}, &chosen));
  EXPECT_EQ(Path("g"), chosen);
  const std::string title =
      "The game was not found in the 1 Wine prefix searched: choose the "
      "Wine prefix it is installed in";
  EXPECT_EQ(std::vector<std::string>(3, title), titles_);
  EXPECT_EQ(std::vector<std::string>(
                {"Error|" + Path("b") +
                     " is not a Wine prefix: it lacks system.reg, user.reg, "
                     "drive_c or dosdevices.",
                 "Error|The registry of the Wine prefix " + Path("c") +
                     " does not hold the game, or the folder it names is "
                     "missing."}),
            BoxLines(boxes_));
  EXPECT_EQ(
      "patcher: the game was not found in the 1 Wine prefix searched\n"
      "patcher: name the prefix it is installed in: WINEPREFIX=... patcher\n"
      "patcher: found the game in the chosen Wine prefix " +
          Path("g") + "\n",
      err_);

  // Cancel, at once or after a wrong folder: the run goes on as without a
  // chooser.
  for (size_t wrong : {0, 1}) {
    boxes_.boxes_.clear();
    titles_.clear();
    folders_ = std::vector<std::string>(wrong, Path("b"));
    folders_.push_back("");
    EXPECT_TRUE(Choose({}, &chosen));
    EXPECT_EQ("/home/u/.wine", chosen);
    EXPECT_EQ(wrong + 1, titles_.size());
    EXPECT_EQ(wrong, BoxLines(boxes_).size());
    EXPECT_EQ(std::string::npos, err_.find("chosen")) << err_;
  }
  // A chooser that only ever answers wrong is given up on.
  folders_ = std::vector<std::string>(1000, Path("b"));
  titles_.clear();
  EXPECT_TRUE(Choose({}, &chosen));
  EXPECT_EQ("/home/u/.wine", chosen);
  EXPECT_EQ(100u, titles_.size());
}

TEST_F(DiscoveryTest, NoneOrOneHoldsTheGame) {
  std::string chosen;
  EXPECT_TRUE(Choose({}, &chosen));
  EXPECT_EQ("/home/u/.wine", chosen);
  EXPECT_EQ(
      "patcher: the game was not found in the 0 Wine prefixes searched\n"
      "patcher: name the prefix it is installed in: WINEPREFIX=... patcher\n",
      err_);

  std::vector<PrefixCandidate> candidates = {Candidate("a", 100, ""),
                                             Candidate("b", 200, "")};
  EXPECT_TRUE(Choose({candidates[0]}, &chosen));
  EXPECT_NE(std::string::npos, err_.find(" in the 1 Wine prefix searched\n"));
  EXPECT_TRUE(Choose(candidates, &chosen));
  EXPECT_EQ("/home/u/.wine", chosen);
  EXPECT_NE(std::string::npos, err_.find(" in the 2 Wine prefixes searched\n"));

  candidates.push_back(Candidate("c", 50, "C:\\Games\\Torvane 2000"));
  chosen.clear();
  EXPECT_TRUE(Choose(candidates, &chosen));
  EXPECT_EQ(Path("c"), chosen);
  EXPECT_EQ("patcher: found the game in the Wine prefix " + Path("c") + "\n",
            err_);
  EXPECT_TRUE(boxes_.boxes_.empty());
  // Each prefix was asked once, in order.
  EXPECT_EQ(Path("c"), located_.back());
}

TEST_F(DiscoveryTest, SeveralAskNewestRegistryFirst) {
  const std::vector<PrefixCandidate> candidates = {
      Candidate("old", 100, "C:\\Games\\Torvane 2000"),
      Candidate("none", 900, ""),
      Candidate("new", 300, "Z:\\home\\u\\Steam\\common\\Torvane",
                "Torvane 2000"),
      Candidate("mid", 200, "C:\\Torvane"),
  };
  const std::vector<std::string> questions = {
      Question("Z:\\home\\u\\Steam\\common\\Torvane",
               Path("new") + " (Torvane 2000)"),
      Question("C:\\Torvane", Path("mid")),
      Question("C:\\Games\\Torvane 2000", Path("old")),
  };
  struct Case {
    std::vector<int> answers;
    const char* chosen;  // null: declined
  };
  const Case cases[] = {
      {{kAnswerYes}, "new"},
      {{kAnswerNo, kAnswerYes}, "mid"},
      {{kAnswerNo, -1, kAnswerYes}, "old"},
      {{kAnswerNo, kAnswerNo, kAnswerNo}, nullptr},
      {{}, nullptr},  // no answer is No
  };
  for (const Case& c : cases) {
    boxes_.boxes_.clear();
    boxes_.answers_ = c.answers;
    std::string chosen = "unchanged";
    EXPECT_EQ(c.chosen != nullptr, Choose(candidates, &chosen));
    EXPECT_EQ(c.chosen ? Path(c.chosen) : "unchanged", chosen);
    size_t asked = c.chosen ? c.answers.size() : questions.size();
    EXPECT_EQ(
        std::vector<std::string>(questions.begin(), questions.begin() + asked),
        BoxLines(boxes_));
    for (const FakePlatform::Box& box : boxes_.boxes_)
      EXPECT_EQ(kBoxYesNo, box.type);
    EXPECT_EQ("", err_);
  }
}

TEST_F(DiscoveryTest, WarnsOnlyWhileProgramsRunInThePrefix) {
  std::vector<std::string> asked;
  bool running = false;
  auto server_runs = [&](const std::string& prefix) {
    asked.push_back(prefix);
    return running;
  };
  EXPECT_TRUE(ConfirmPrefixIdle("/p", server_runs, &boxes_, nullptr));
  EXPECT_TRUE(boxes_.boxes_.empty());
  EXPECT_TRUE(ConfirmPrefixIdle("", server_runs, &boxes_, nullptr));
  EXPECT_EQ(std::vector<std::string>({"/p"}), asked);

  running = true;
  const std::string warning =
      "Warning|Programs are running in the Wine prefix /p (the game may be "
      "open). Files that they hold open may be replaced under them, and "
      "recent registry changes may not be saved yet.\n\nClose the game "
      "first. Patch anyway?";
  for (int answer : {kAnswerYes, kAnswerNo, -1}) {
    boxes_.boxes_.clear();
    boxes_.answers_ = {answer};
    EXPECT_EQ(answer == kAnswerYes,
              ConfirmPrefixIdle("/p", server_runs, &boxes_, nullptr));
    EXPECT_EQ(std::vector<std::string>({warning}), BoxLines(boxes_));
    EXPECT_EQ(kBoxYesNo, boxes_.boxes_[0].type);
  }

  // Box texts are ANSI: a host path beyond ASCII (UTF-8) is converted.
  AnsiText cp1252([] { return CodePage::Windows1252(); },
                  [] { return CaseTable(); });
  boxes_.boxes_.clear();
  boxes_.answers_ = {kAnswerYes};
  EXPECT_TRUE(ConfirmPrefixIdle("/home/jos\xC3\xA9/.wine", server_runs, &boxes_,
                                &cp1252));
  ASSERT_EQ(1u, boxes_.boxes_.size());
  EXPECT_NE(std::string::npos,
            boxes_.boxes_[0].text.find("prefix /home/jos\xE9/.wine ("));
}

}  // namespace
}  // namespace patcher
