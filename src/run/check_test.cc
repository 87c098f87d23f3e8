// Tests of the pre-flight check on a platform in memory.

#include "run/check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/install_dir.h"
#include "test_util.h"

namespace patcher {
namespace {

const char kKey1[] = "Software\\Quelvar\\Torvane";
const char kKey2[] = "Software\\Quelvar\\Torvane 2000";
const char kKey3[] = "Software\\Quelvar\\Torvane Gravine";
const char kAppPath[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\game.exe";

class CheckTest : public testing::Test {
 protected:
  void SetUp() override {
    platform_.files_["move.txt"] =
        "Apply?\\nSure?\ngame.exe\na.mix,Data\\a.mix\nb.mix,b.mix\n";
    platform_.files_["a.mix"] = "A";
    platform_.files_["b.mix"] = "B";
  }
  int Check() {
    strcpy(message_, "stale");
    strcpy(dir_, "stale");
    missing_.clear();
    return check_patch(
        &platform_, message_, sizeof message_, dir_, sizeof dir_,
        [this](const std::string& error) {
          // Told before the next source is tried.
          missing_.push_back(error + " after " + platform_.opened_.back());
        });
  }
  FakePlatform platform_;
  std::vector<std::string> missing_;
  char message_[1024];
  char dir_[1024];
};

TEST_F(CheckTest, FillsMessageAndDirectory) {
  platform_.AddString(kKey2, "Install Dir", "C:\\Games\\Torvane 2000\\");
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_STREQ("Apply?\\nSure?", message_);         // not expanded here
  EXPECT_STREQ("C:\\Games\\Torvane 2000\\", dir_);  // exactly as stored
  EXPECT_EQ(
      std::vector<std::string>({"missing Software\\Quelvar\\Torvane",
                                std::string("open ") + kKey2,
                                std::string("query ") + kKey2 + "|Install Dir",
                                std::string("close ") + kKey2}),
      platform_.registry_log_);
  EXPECT_EQ(std::vector<std::string>({"move.txt", "a.mix", "b.mix"}),
            platform_.opened_);
  EXPECT_TRUE(platform_.boxes_.empty());
}

TEST_F(CheckTest, NoRegistryAccessWhenTheListIsMissingOrCorrupt) {
  platform_.AddString(kKey1, "Install Dir", "C:\\Game");
  platform_.files_.erase("move.txt");
  EXPECT_EQ(CHECK_MISSING_FILES, Check());
  platform_.files_["move.txt"] = "";
  EXPECT_EQ(CHECK_LIST_CORRUPT, Check());
  platform_.files_["move.txt"] = "just one line";
  EXPECT_EQ(CHECK_LIST_CORRUPT, Check());
  EXPECT_TRUE(platform_.registry_log_.empty());
}

TEST_F(CheckTest, FirstProductKeyThatOpensDecides) {
  platform_.AddString(kKey1, "Install Dir", "C:\\One");
  platform_.AddString(kKey3, "Install Dir", "C:\\Three");
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_STREQ("C:\\One", dir_);

  // A key that opens without a usable value ends the lookup: no retry with
  // a later key or the application path.
  FakePlatform::Value dword{kRegDword, std::string("\1\0\0\0", 4)};
  const FakePlatform::Value unusable[] = {
      {kRegExpandSz, std::string("C:\\Exp\0", 7)},
      dword,
      {kRegSz, std::string(500, 'x') + '\0'},  // 501 bytes
  };
  platform_.AddString(kKey2, "Install Dir", "C:\\Two");
  platform_.AddString(kAppPath, "Path", "C:\\App");
  for (const FakePlatform::Value& value : unusable) {
    platform_.keys_[kKey1]["Install Dir"] = value;
    EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
  }
  platform_.keys_[kKey1].clear();
  EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
}

TEST_F(CheckTest, InstallDirSizeRuleCountsTheTerminator) {
  platform_.AddString(kKey3, "Install Dir", std::string(499, 'd'));
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_EQ(499u, strlen(dir_));
  // Stored without a terminator: the text ends where the data ends.
  platform_.AddValue(kKey3, "Install Dir", kRegSz, "C:\\NoNul");
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_STREQ("C:\\NoNul", dir_);
  platform_.AddValue(kKey3, "Install Dir", kRegSz, std::string(500, 'd'));
  EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
}

TEST_F(CheckTest, ApplicationPathServesOnlyWithoutProductKeys) {
  platform_.AddValue(kAppPath, "Path", kRegExpandSz,
                     std::string("D:\\Torvane\0", 11));
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_STREQ("D:\\Torvane", dir_);  // any type will do
  EXPECT_EQ(std::string("open ") + kAppPath, platform_.registry_log_[3]);

  platform_.AddValue(kAppPath, "Path", kRegSz, std::string(1024, 'p'));
  EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
  platform_.AddValue(kAppPath, "Path", kRegSz, std::string(1023, 'p'));
  EXPECT_EQ(CHECK_OK, Check());  // ends where its data ends
  platform_.keys_[kAppPath].clear();
  EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
  platform_.keys_.clear();
  EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
}

TEST_F(CheckTest, EverySourceIsTriedBeforeMissingFilesIsReported) {
  platform_.AddString(kKey1, "Install Dir", "C:\\Game");
  std::string list = "msg\nexe\n";
  for (int i = 0; i < 10; ++i) {
    std::string name = "f" + std::to_string(i);
    list += name + "," + name + "\n";
    if (i != 3 && i != 7) platform_.files_[name] = "x";
  }
  list += "nocomma\n";  // taken whole as a source
  platform_.files_["nocomma"] = "x";
  platform_.files_["move.txt"] = list;
  EXPECT_EQ(CHECK_MISSING_FILES, Check());
  EXPECT_EQ(12u, platform_.opened_.size());
  EXPECT_EQ("nocomma", platform_.opened_.back());
  // Each missing source is named, in list order, as the platform tells it.
  EXPECT_EQ(std::vector<std::string>({"open(f3): not found after f3",
                                      "open(f7): not found after f7"}),
            missing_);

  platform_.files_["f3"] = platform_.files_["f7"] = "x";
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_TRUE(missing_.empty());
}

TEST_F(CheckTest, DirectoryIsLookedUpBeforeSourcesAndHeaderOnlyListIsOk) {
  platform_.files_.erase("a.mix");
  EXPECT_EQ(CHECK_NO_INSTALL_DIR, Check());
  EXPECT_EQ(std::vector<std::string>({"move.txt"}), platform_.opened_);

  platform_.AddString(kKey1, "Install Dir", "C:\\Game");
  platform_.files_["move.txt"] = "msg\ngame.exe\n";
  EXPECT_EQ(CHECK_OK, Check());
}

// Discovery on Linux asks the same lookup of each prefix it finds, on its
// own: it must decide as the check decides and touch nothing but the
// registry.
TEST_F(CheckTest, FindInstallDirDecidesAsTheCheck) {
  struct Setup {
    const char* name;
    std::vector<std::pair<const char*, FakePlatform::Value>> values;
  };
  const FakePlatform::Value sz{kRegSz, std::string("C:\\Sz\0", 6)};
  const FakePlatform::Value exp{kRegExpandSz, std::string("C:\\Exp\0", 7)};
  const Setup setups[] = {
      {"nothing", {}},
      {"first product key", {{kKey1, sz}, {kKey3, exp}}},
      {"unusable product key", {{kKey2, exp}, {kAppPath, sz}}},
      {"application path", {{kAppPath, exp}}},
  };
  for (const Setup& setup : setups) {
    platform_.keys_.clear();
    for (const auto& [key, value] : setup.values)
      platform_.AddValue(key, key == kAppPath ? "Path" : "Install Dir",
                         value.type, value.data);
    int result = Check();
    std::string checked = dir_;
    platform_.opened_.clear();
    platform_.registry_log_.clear();
    char dir[1024] = "stale";
    KeyOpener open_key = [this](const char* subkey) {
      return platform_.OpenKey(subkey);
    };
    bool found = find_install_dir(open_key, "game.exe", dir, sizeof dir);
    EXPECT_EQ(result == CHECK_OK, found) << setup.name;
    if (found) {
      EXPECT_EQ(checked, dir) << setup.name;
    }
    EXPECT_TRUE(platform_.opened_.empty()) << setup.name;
    EXPECT_FALSE(platform_.registry_log_.empty()) << setup.name;
  }
}

TEST_F(CheckTest, PlansEveryEntryWithADestinationInListOrder) {
  platform_.AddString(kKey1, "Install Dir", "C:\\Game");
  platform_.files_["nocomma"] = "x";
  platform_.files_["move.txt"] =
      "msg\nexe\nb.mix,x\nnocomma\nmissing,y\n,zz\na.mix,\nab\n";
  // A missing source is planned all the same: the check fails, and nothing
  // is copied. An empty source with a destination is an entry too.
  EXPECT_EQ(CHECK_MISSING_FILES, Check());
  EXPECT_EQ(std::vector<std::string>({"b.mix", "missing", "", "a.mix"}),
            platform_.planned_);

  platform_.planned_.clear();
  platform_.files_["move.txt"] = "msg\nexe\n";
  EXPECT_EQ(CHECK_OK, Check());
  EXPECT_TRUE(platform_.planned_.empty());
}

}  // namespace
}  // namespace patcher
