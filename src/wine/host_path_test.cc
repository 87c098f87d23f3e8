// Tests of Windows paths mapped onto a prefix's disk, names matched as Windows
// matches them.

#include "wine/host_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "test_util.h"
#include "wine/copier.h"
#include "wine/copy.h"
#include "wine/host_file.h"

namespace patcher {
namespace {

// Text in `code_page`, counting how often the case table is fetched.
struct CountingText {
  explicit CountingText(CodePage code_page)
      : text([code_page] { return code_page; },
             [this] {
               ++case_tables;
               return CaseTable::FromCLibrary();
             }) {}
  int case_tables = 0;
  AnsiText text;
};

// A prefix at <root>/prefix whose drive C: holds Games/Data/file.mix.
class MapToHostTest : public testing::Test, public ScratchDir {
 protected:
  void SetUp() override {
    for (const char* dir :
         {"prefix", "prefix/dosdevices", "prefix/drive_c",
          "prefix/drive_c/Games", "prefix/drive_c/Games/Data"})
      MakeDir(dir);
    ASSERT_EQ(symlink("../drive_c", Path("prefix/dosdevices/c:").c_str()), 0);
    Write("prefix/drive_c/Games/Data/file.mix", "mix");
    prefix_ = Path("prefix");
    data_ = prefix_ + "/dosdevices/c:/Games/Data";
  }
  std::string Map(const std::string& windows_path) {
    std::string host;
    EXPECT_TRUE(MapToHost(prefix_, &text_.text, windows_path, &host))
        << windows_path;
    return host;
  }
  // The host path, or "<none>" when it cannot be mapped.
  std::string MapOrNone(const std::string& windows_path, AnsiText* text) {
    std::string host;
    return MapToHost(prefix_, text, windows_path, &host) ? host : "<none>";
  }

  std::string prefix_;
  std::string data_;
  CountingText text_{CodePage::Windows1252()};
};

TEST_F(MapToHostTest, FindsEachNameIgnoringCase) {
  EXPECT_EQ(Map("C:\\GAMES\\DATA\\FILE.MIX"), data_ + "/file.mix");
  EXPECT_EQ(Map("c:/games\\\\data//File.Mix. "), data_ + "/file.mix");
  EXPECT_EQ(Map("C:\\Games\\Data\\..\\DATA\\.\\New.MIX"), data_ + "/New.MIX");
  EXPECT_EQ(Map("C:\\Games\\MISSING\\DATA\\FILE.MIX"),
            prefix_ + "/dosdevices/c:/Games/MISSING/DATA/FILE.MIX");
  EXPECT_EQ(HostAttributes(Map("C:\\games\\data\\file.mix")),
            kAttributeArchive);
}

TEST_F(MapToHostTest, ExactNameWinsOverCaseMatch) {
  Write("prefix/drive_c/Games/Data/FILE.MIX", "upper");
  EXPECT_EQ(Map("C:\\Games\\Data\\FILE.MIX"), data_ + "/FILE.MIX");
  EXPECT_EQ(Map("C:\\Games\\Data\\file.mix"), data_ + "/file.mix");
}

TEST_F(MapToHostTest, PathsStartWhereWineSeesTheWorkingDirectory) {
  ASSERT_EQ(symlink("/", Path("prefix/dosdevices/z:").c_str()), 0);
  std::string c = prefix_ + "/dosdevices/c:";
  std::string z = prefix_ + "/dosdevices/z:";
  std::string root_in_z = root();  // the scratch folder as Z: shows it
  std::replace(root_in_z.begin(), root_in_z.end(), '/', '\\');
  char cwd[PATH_MAX];

  // In a patch folder on C:.
  MakeDir("prefix/drive_c/patch");
  ASSERT_EQ(chdir(Path("prefix/drive_c/patch").c_str()), 0);
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const struct {
    const char* path;
    std::string host;
  } kOnC[] = {
      {"..\\games\\data\\FILE.MIX", c + "/Games/Data/file.mix"},
      {"x.mix", std::string(cwd) + "/x.mix"},
      {"\\Games\\Data\\file.mix", c + "/Games/Data/file.mix"},
      {"C:..\\Games\\Data\\file.mix", c + "/Games/Data/file.mix"},
      {"C:x.mix", c + "/patch/x.mix"},
      // `..` climbs no higher than the drive's root.
      {"..\\..\\..\\Games\\Data\\file.mix", c + "/Games/Data/file.mix"},
      {"Z:\\x", z + "/x"},
      {"D:\\x", prefix_ + "/dosdevices/d:/x"},  // no such drive: missing
  };
  for (const auto& k : kOnC)
    EXPECT_EQ(MapOrNone(k.path, &text_.text), k.host) << k.path;

  // Outside the prefix: on Z:, whose root is the host's.
  ASSERT_EQ(chdir(root().c_str()), 0);
  EXPECT_EQ(Map(root_in_z + "\\PREFIX\\DRIVE_C"),
            z + root() + "/prefix/drive_c");
  EXPECT_EQ(Map("C:Games\\Data\\FILE.MIX"), data_ + "/file.mix");
  // A prefix without Z: sees a folder outside it on no drive.
  ASSERT_EQ(unlink(Path("prefix/dosdevices/z:").c_str()), 0);
  ASSERT_EQ(chdir(prefix_.c_str()), 0);
  EXPECT_EQ(MapOrNone("\\tmp\\x", &text_.text), "<none>");
  EXPECT_EQ(Map("DRIVE_C"), Path("prefix/drive_c"));
}

TEST_F(MapToHostTest, NamesBeyondAsciiAsWineFindsThem) {
  MakeDir(
      "prefix/drive_c/Games/Donn\xC3\xA9"
      "es");
  Write(
      "prefix/drive_c/Games/Donn\xC3\xA9"
      "es/\xC3\xA9t\xC3\xA9.txt",
      "");
  Write(
      "prefix/drive_c/Games/Donn\xC3\xA9"
      "es/carte \xC3\xA9.mix",
      "");
  Write(
      "prefix/drive_c/Games/Donn\xC3\xA9"
      "es/stra\xC3\x9F"
      "e",
      "");
  Write(
      "prefix/drive_c/Games/Donn\xC3\xA9"
      "es/e\xCC\x81t\xC3\xA9",
      "");
  MakeDir("prefix/drive_c/Games/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0");  // Игра
  Write(
      "prefix/drive_c/Games/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0/"
      "\xD1\x91\xD0\xB6.txt",
      "");                                       // ёж.txt
  MakeDir("prefix/drive_c/Games/\xE8\xA1\xA8");  // 表
  Write("prefix/drive_c/Games/\xE8\xA1\xA8/x.mix", "");

  NlsCodePage nls1251;  // А..я at 0xC0..0xFF, Ё and ё
  for (unsigned b = 0xC0; b <= 0xFF; ++b) {
    char16_t unit = static_cast<char16_t>(0x410 + b - 0xC0);
    nls1251.bytes[static_cast<uint8_t>(b)] = unit;
    nls1251.units[unit] = static_cast<uint8_t>(b);
  }
  nls1251.bytes[0xA8] = u'\u0401';
  nls1251.bytes[0xB8] = u'\u0451';
  NlsCodePage nls932;
  nls932.pairs = {{0x95, {{0x5C, u'\u8868'}}}};
  CodePage cp1251, cp932;
  ASSERT_TRUE(CodePage::Parse(MakeCodePageNls(nls1251), &cp1251));
  ASSERT_TRUE(CodePage::Parse(MakeCodePageNls(nls932), &cp932));
  CountingText text1251(cp1251), text932(cp932);

  std::string games = prefix_ + "/dosdevices/c:/Games/";
  std::string donnees = games +
                        "Donn\xC3\xA9"
                        "es/";
  const struct {
    AnsiText* text;
    const char* path;
    std::string host;
  } kCases[] = {
      {&text_.text,
       "C:\\Games\\Donn\xE9"
       "es\\carte \xE9.mix",
       donnees + "carte \xC3\xA9.mix"},
      {&text_.text,
       "C:\\GAMES\\DONN\xC9"
       "ES\\\xC9T\xC9.TXT",
       donnees + "\xC3\xA9t\xC3\xA9.txt"},
      // No full case folding, no normalisation: these stay as written.
      {&text_.text,
       "C:\\Games\\Donn\xE9"
       "es\\STRASSE",
       donnees + "STRASSE"},
      {&text_.text,
       "C:\\Games\\Donn\xE9"
       "es\\\xE9t\xE9",
       donnees + "\xC3\xA9t\xC3\xA9"},
      {&text1251.text, "C:\\games\\\xC8\xC3\xD0\xC0\\\xA8\xC6.TXT",
       games + "\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0/\xD1\x91\xD0\xB6.txt"},
      // The 0x5C of 95 5C is half of 表, not a separator.
      {&text932.text, "C:\\Games\\\x95\x5C\\X.MIX",
       games + "\xE8\xA1\xA8/x.mix"},
  };
  for (const auto& k : kCases)
    EXPECT_EQ(MapOrNone(k.path, k.text), k.host) << k.path;
}

TEST_F(MapToHostTest, AsciiNamesNeverFetchTheCaseTable) {
  Write("prefix/drive_c/Games/Data/\xC3\xA9t\xC3\xA9.txt", "");
  EXPECT_EQ(Map("C:\\GAMES\\DATA\\FILE.MIX"), data_ + "/file.mix");
  EXPECT_EQ(Map("C:\\Games\\Data\\NEW.MIX"), data_ + "/NEW.MIX");
  EXPECT_EQ(text_.case_tables, 0);
  EXPECT_EQ(Map("C:\\Games\\Data\\\xC9T\xC9.TXT"),
            data_ + "/\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(text_.case_tables, 1);
}

TEST_F(MapToHostTest, PathsLongerThanMaxPathAreRefused) {
  // MAX_PATH counts UTF-16 units with the terminator, not bytes.
  NlsCodePage nls932;
  nls932.pairs = {{0x88, {{0x9F, u'\u4E9C'}}}};
  CodePage cp932;
  ASSERT_TRUE(CodePage::Parse(MakeCodePageNls(nls932), &cp932));
  CountingText text932(cp932);
  std::string wide;
  for (int i = 0; i < 259; ++i) wide += "\x88\x9F";
  EXPECT_NE(MapOrNone(std::string(259, 'a'), &text_.text), "<none>");
  EXPECT_EQ(MapOrNone(std::string(260, 'a'), &text_.text), "<none>");
  EXPECT_NE(MapOrNone(wide, &text932.text), "<none>");
  EXPECT_EQ(MapOrNone(wide + "a", &text932.text), "<none>");
}

TEST_F(MapToHostTest, TrailingSeparatorNamesOnlyADirectory) {
  EXPECT_EQ(HostAttributes(Map("C:\\Games\\DATA\\")), kAttributeDirectory);
  std::string file = Map("C:\\Games\\Data\\file.mix\\");
  EXPECT_EQ(HostAttributes(file), kInvalidAttributes);
  EXPECT_EQ(OpenHostFile(file, nullptr), nullptr);
}

TEST_F(MapToHostTest, UnmappablePaths) {
  std::string host;
  EXPECT_FALSE(
      MapToHost(prefix_, &text_.text, "\\\\server\\share\\x.mix", &host));
  EXPECT_FALSE(MapToHost(prefix_, &text_.text, "C:", &host));
  EXPECT_FALSE(MapToHost("", &text_.text, "C:\\x.mix", &host));
}

TEST_F(MapToHostTest, SeesNamesCreatedAfterAListing) {
  Write("new.mix", "new");
  std::string created = Map("C:\\Games\\DATA\\NEW.MIX");
  ASSERT_EQ(created, data_ + "/NEW.MIX");
  std::string error;
  ASSERT_TRUE(CopyHostFile(Path("new.mix"), created, &error)) << error;
  EXPECT_EQ(Map("C:\\Games\\Data\\new.mix"), data_ + "/NEW.MIX");

  // Created by someone else. Give the directory a new time explicitly: two
  // changes within one clock tick may share one.
  Write("prefix/drive_c/Games/Data/Other.mix", "other");
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, data_.c_str(), times, 0), 0);
  EXPECT_EQ(Map("C:\\Games\\Data\\OTHER.MIX"), data_ + "/Other.mix");
}

// One run's paths: the listings are read once and kept, and what the run's
// own copies do to names shows in the paths mapped after them, whichever
// spelling of a folder they go through.
class HostPathsTest : public MapToHostTest {
 protected:
  std::string MapIn(HostPaths* paths, const std::string& windows_path) {
    std::string host;
    EXPECT_TRUE(paths->Map(windows_path, &host)) << windows_path;
    return host;
  }
};

TEST_F(HostPathsTest, LaterPathsSeeWhatTheRunCreated) {
  // D: is C: again, through another link: the same folder by another path.
  ASSERT_EQ(symlink("../drive_c", Path("prefix/dosdevices/d:").c_str()), 0);
  std::string d_data = prefix_ + "/dosdevices/d:/Games/Data";
  Write("new.mix", "new");
  HostPaths paths(prefix_, &text_.text);
  HostCopier copier(&paths);
  // Mapped before the file exists: each keeps its spelling.
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\new.mix"), data_ + "/new.mix");
  EXPECT_EQ(MapIn(&paths, "D:\\GAMES\\DATA\\New.Mix"), d_data + "/New.Mix");
  std::string created = MapIn(&paths, "C:\\Games\\DATA\\NEW.MIX");
  ASSERT_EQ(created, data_ + "/NEW.MIX");

  std::string error;
  ASSERT_TRUE(copier.Copy(Path("new.mix"), created, &error)) << error;
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\new.mix"), data_ + "/NEW.MIX");
  EXPECT_EQ(MapIn(&paths, "D:\\GAMES\\DATA\\New.Mix"), d_data + "/NEW.MIX");
  // A file it replaces keeps its name.
  ASSERT_TRUE(copier.Copy(Path("new.mix"),
                          MapIn(&paths, "C:\\GAMES\\Data\\File.Mix"), &error))
      << error;
  EXPECT_EQ(Names("prefix/drive_c/Games/Data"),
            (std::vector<std::string>{"NEW.MIX", "file.mix"}));
}

TEST_F(HostPathsTest, NamesOthersMakeShowAfterForget) {
  HostPaths paths(prefix_, &text_.text);
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\OTHER.MIX"), data_ + "/OTHER.MIX");
  // Made by another program: the run goes on with the names it has read,
  // until it forgets them (at a box, where it waits).
  Write("prefix/drive_c/Games/Data/Other.mix", "other");
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\other.mix"), data_ + "/other.mix");
  paths.Forget();
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\OTHER.MIX"), data_ + "/Other.mix");
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\other.mix"), data_ + "/Other.mix");
}

// Two folders used in turn, together beyond the budget of names: neither is
// read again for each path (which would make a patch with its sources in
// one big folder and its destinations in another read both for each file).
TEST_F(HostPathsTest, FoldersInUseAreKeptBeyondTheBudget) {
  MakeDir("prefix/drive_c/A");
  MakeDir("prefix/drive_c/B");
  for (int i = 0; i < 20; ++i) {
    Write("prefix/drive_c/A/a" + std::to_string(i), "");
    Write("prefix/drive_c/B/b" + std::to_string(i), "");
  }
  std::string c = prefix_ + "/dosdevices/c:";
  HostPaths paths(prefix_, &text_.text, 10);
  for (int i = 0; i < 20; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(MapIn(&paths, "C:\\A\\A" + n), c + "/A/a" + n);
    EXPECT_EQ(MapIn(&paths, "C:\\B\\B" + n), c + "/B/b" + n);
  }
  // Renamed behind the run's back: its listing of A is the one it read
  // (the path is spelt anew, so that it is not one mapped already).
  ASSERT_EQ(rename(Path("prefix/drive_c/A/a5").c_str(),
                   Path("prefix/drive_c/A/gone").c_str()),
            0);
  EXPECT_EQ(MapIn(&paths, "C:\\a\\A5"), c + "/A/a5");
  paths.Forget();
  EXPECT_EQ(MapIn(&paths, "C:\\a\\A5"), c + "/A/A5");
}

// A folder not read is looked into name by name: a name spelt as on disk
// is found by a look at it, and the folder is read only where a name is not
// there as spelt (it may be there in another case), or once it has been
// looked into often enough to pay for reading it.
TEST_F(HostPathsTest, NamesSpeltAsOnDiskAreFoundByALook) {
  MakeDir("prefix/drive_c/Many");
  for (int i = 0; i < 20; ++i)
    Write("prefix/drive_c/Many/m" + std::to_string(i), "");
  std::string c = prefix_ + "/dosdevices/c:";
  struct Case {
    const char* path;
    std::string host;
    unsigned char type;
    size_t read;  // listings read by then
  } cases[] = {
      {"C:\\Games\\Data\\file.mix", data_ + "/file.mix", DT_REG, 0},
      {"C:\\Games", c + "/Games", DT_DIR, 0},
      {"C:\\Games\\Data\\FILE.MIX", data_ + "/file.mix", DT_REG, 1},
      {"C:\\Games\\Data\\Sub\\x.mix", data_ + "/Sub/x.mix", DT_UNKNOWN, 1},
      {"C:\\GAMES\\Data\\file.mix", data_ + "/file.mix", DT_REG, 2},
  };
  HostPaths paths(prefix_, &text_.text);
  for (const Case& t : cases) {
    std::string host;
    unsigned char type;
    ASSERT_TRUE(paths.Map(t.path, &host, &type)) << t.path;
    EXPECT_EQ(host, t.host) << t.path;
    EXPECT_EQ(type, t.type) << t.path;
    EXPECT_EQ(paths.listings_read(), t.read) << t.path;
  }
  // Looked into again and again: read once, not for each name.
  size_t before = paths.listings_read();
  for (int i = 0; i < 20; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(MapIn(&paths, "C:\\Many\\m" + n), c + "/Many/m" + n);
  }
  EXPECT_EQ(paths.listings_read(), before + 1);
}

// Folders used in turn, beyond the budget of names (a texture pack's
// destinations): each is read once, and what is kept of one dropped still
// tells that a new name is not there, with no look, and finds the others by
// a look at each; beyond that, once more at most.
TEST_F(HostPathsTest, FoldersBeyondTheBudgetAreNotReadForEachFile) {
  constexpr int kDirs = 24, kFiles = 8;  // more than the 16 always kept
  for (int d = 0; d < kDirs; ++d) {
    MakeDir("prefix/drive_c/d" + std::to_string(d));
    for (int f = 0; f < kFiles; ++f)
      Write("prefix/drive_c/d" + std::to_string(d) + "/f" + std::to_string(f),
            "");
  }
  std::string c = prefix_ + "/dosdevices/c:";
  struct Budget {
    size_t max_names;
    bool new_names;    // whether names not on disk are looked up too
    size_t max_reads;  // listings read at most, the drive's root included
  } budgets[] = {
      {1000, true, kDirs + 1},    // all kept
      {100, true, kDirs + 1},     // dropped to summaries
      {4, false, kDirs * 2 + 1},  // summaries dropped too
  };
  for (const Budget& b : budgets) {
    HostPaths paths(prefix_, &text_.text, b.max_names);
    for (int f = 0; f < kFiles; ++f) {
      for (int d = 0; d < kDirs; ++d) {
        std::string dir = "d" + std::to_string(d), file = std::to_string(f);
        EXPECT_EQ(MapIn(&paths, "C:\\" + dir + "\\f" + file),
                  c + "/" + dir + "/f" + file);
        if (b.new_names) {
          EXPECT_EQ(MapIn(&paths, "C:\\" + dir + "\\New" + file),
                    c + "/" + dir + "/New" + file);
        }
      }
    }
    EXPECT_LE(paths.listings_read(), b.max_reads) << b.max_names;
  }
}

// A folder dropped to its summary sees at once the names the run creates
// in it, and is read again only for a name not there as spelt that may be
// there in another case.
TEST_F(HostPathsTest, DroppedFoldersSeeWhatTheRunCreated) {
  constexpr int kDirs = 24;
  for (int d = 0; d < kDirs; ++d) {
    MakeDir("prefix/drive_c/d" + std::to_string(d));
    Write("prefix/drive_c/d" + std::to_string(d) + "/f0", "");
  }
  Write("new.mix", "new");
  std::string c = prefix_ + "/dosdevices/c:";
  HostPaths paths(prefix_, &text_.text, 10);
  HostCopier copier(&paths);
  // Each read for a name it lacks; the first ones are dropped to summaries
  // by those read after them.
  for (int d = 0; d < kDirs; ++d) {
    std::string dir = "d" + std::to_string(d);
    EXPECT_EQ(MapIn(&paths, "C:\\" + dir + "\\NEW"), c + "/" + dir + "/NEW");
  }
  std::string error;
  ASSERT_TRUE(copier.Copy(Path("new.mix"), c + "/d0/New", &error)) << error;
  size_t read = paths.listings_read();
  struct Case {
    const char* path;
    std::string host;
    size_t read;  // listings read again by then
  } cases[] = {
      {"C:\\d0\\NEW", c + "/d0/New", 1},      // created by the run
      {"C:\\d1\\F0", c + "/d1/f0", 2},        // another case
      {"C:\\d2\\f0", c + "/d2/f0", 2},        // as spelt: a look
      {"C:\\d3\\Newer", c + "/d3/Newer", 2},  // nothing like it
  };
  for (const Case& t : cases) {
    EXPECT_EQ(MapIn(&paths, t.path), t.host) << t.path;
    EXPECT_EQ(paths.listings_read(), read + t.read) << t.path;
  }
}

TEST_F(HostPathsTest, ALinkReplacedByAFileIsNoFolderAnyMore) {
  ASSERT_EQ(symlink("Data", Path("prefix/drive_c/Games/Link").c_str()), 0);
  Write("new.mix", "new");
  std::string games = prefix_ + "/dosdevices/c:/Games";
  HostPaths paths(prefix_, &text_.text);
  HostCopier copier(&paths);
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\LINK\\FILE.MIX"),
            games + "/Link/file.mix");

  std::string error;
  ASSERT_TRUE(copier.Copy(Path("new.mix"), games + "/Link", &error)) << error;
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\LINK\\FILE.MIX"),
            games + "/Link/FILE.MIX");
  EXPECT_EQ(Read("prefix/drive_c/Games/Data/file.mix"), "mix");
}

TEST_F(HostPathsTest, TemporariesRemovedAreNoLongerFound) {
  Write("prefix/drive_c/Games/Data/.a.patcher-Ab12Cd", "left");
  Write("new.mix", "new");
  HostPaths paths(prefix_, &text_.text);
  HostCopier copier(&paths);
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\.A.PATCHER-AB12CD"),
            data_ + "/.a.patcher-Ab12Cd");
  std::string error;
  ASSERT_TRUE(copier.Copy(Path("new.mix"), data_ + "/a", &error)) << error;
  EXPECT_EQ(copier.TakeNotes().size(), 1u);
  EXPECT_EQ(MapIn(&paths, "C:\\Games\\Data\\.A.PATCHER-AB12CD"),
            data_ + "/.A.PATCHER-AB12CD");
}

}  // namespace
}  // namespace patcher
