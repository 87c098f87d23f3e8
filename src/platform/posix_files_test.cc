#include "platform/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace patcher {
namespace {

std::string Strerror(int err) { return strerror(err); }

// A temporary tree for each test, removed afterwards; umask 022.
class PosixFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    umask(022);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    cwd_ = cwd;
    char root[] = "/tmp/patcher-test-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    root_ = root;
  }
  void TearDown() override {
    ASSERT_EQ(chdir(cwd_.c_str()), 0);
    // Make every directory writable first, then remove children first.
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat* st, int, FTW*) {
          if (S_ISDIR(st->st_mode)) chmod(path, 0700);
          return 0;
        },
        16, FTW_PHYS);
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat*, int, FTW*) {
          return remove(path);
        },
        16, FTW_PHYS | FTW_DEPTH);
  }

  std::string Path(const std::string& rel) const { return root_ + "/" + rel; }
  void MakeDir(const std::string& rel, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(Path(rel).c_str(), 0700), 0) << rel;
    ASSERT_EQ(chmod(Path(rel).c_str(), mode), 0);
  }
  void Write(const std::string& rel, const std::string& data,
             mode_t mode = 0644) {
    unlink(Path(rel).c_str());
    std::ofstream(Path(rel), std::ios::binary) << data;
    ASSERT_EQ(chmod(Path(rel).c_str(), mode), 0) << rel;
  }
  std::string Read(const std::string& rel) const {
    std::ostringstream data;
    data << std::ifstream(Path(rel), std::ios::binary).rdbuf();
    return data.str();
  }
  struct stat Lstat(const std::string& rel) const {
    struct stat st = {};
    EXPECT_EQ(lstat(Path(rel).c_str(), &st), 0) << rel;
    return st;
  }
  std::vector<std::string> Names(const std::string& rel) const {
    std::vector<std::string> names;
    if (DIR* d = opendir(Path(rel).c_str())) {
      while (const dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
          names.push_back(e->d_name);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
  std::string cwd_;
};

// A prefix at <root>/prefix whose drive C: holds Games/Data/file.mix.
class MapToHostTest : public PosixFilesTest {
 protected:
  void SetUp() override {
    PosixFilesTest::SetUp();
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
    EXPECT_TRUE(MapToHost(prefix_, windows_path, &host)) << windows_path;
    return host;
  }

  std::string prefix_;
  std::string data_;
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

TEST_F(MapToHostTest, RelativeAndDrivelessPaths) {
  ASSERT_EQ(chdir(Path("prefix/drive_c/Games").c_str()), 0);
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(Map("data\\FILE.MIX"), std::string(cwd) + "/Data/file.mix");

  std::string rooted = root_ + "/PREFIX/DRIVE_C";
  std::replace(rooted.begin(), rooted.end(), '/', '\\');
  EXPECT_EQ(Map(rooted), Path("prefix/drive_c"));
}

TEST_F(MapToHostTest, TrailingSeparatorNamesOnlyADirectory) {
  EXPECT_EQ(HostAttributes(Map("C:\\Games\\DATA\\")), kAttributeDirectory);
  std::string file = Map("C:\\Games\\Data\\file.mix\\");
  EXPECT_EQ(HostAttributes(file), kInvalidAttributes);
  EXPECT_EQ(OpenHostFile(file), nullptr);
}

TEST_F(MapToHostTest, UnmappablePaths) {
  std::string host;
  EXPECT_FALSE(MapToHost(prefix_, "\\\\server\\share\\x.mix", &host));
  EXPECT_FALSE(MapToHost(prefix_, "C:x.mix", &host));
  EXPECT_FALSE(MapToHost("", "C:\\x.mix", &host));
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

TEST_F(PosixFilesTest, AttributesAsWineShowsThem) {
  Write("plain", "");
  Write("readonly", "", 0444);
  Write("owner_readonly", "", 0400);
  Write(".hidden", "", 0444);
  MakeDir("dir");
  MakeDir("readonly_dir", 0555);
  ASSERT_EQ(symlink("readonly", Path("link").c_str()), 0);
  ASSERT_EQ(symlink("missing", Path("dangling").c_str()), 0);
  const struct {
    const char* name;
    uint32_t attributes;
  } kCases[] = {
      {"plain", 0x20},
      {"readonly", 0x21},
      {"owner_readonly", 0x21},
      {".hidden", 0x23},
      {"dir", 0x10},
      {"readonly_dir", 0x11},
      {"link", 0x20},
      {"dangling", 0x20},
      {"missing", kInvalidAttributes},
      {"missing/x", kInvalidAttributes},
      {"plain/x", kInvalidAttributes},
      {".", 0x10},
      {"dir/..", 0x10},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(HostAttributes(Path(c.name)), c.attributes) << c.name;
}

TEST_F(PosixFilesTest, SetAttributesChangesWritePermissionAsWine) {
  const struct {
    mode_t before;
    uint32_t attributes;
    mode_t after;
  } kCases[] = {
      {0444, 0, 0644},    {0400, 0, 0600},   {0440, 0, 0640},
      {0404, 0, 0604},    {0644, 0x1, 0444}, {0660, 0x21, 0440},
      {0644, 0x22, 0644}, {0460, 0, 0460},
  };
  std::string error;
  for (const auto& c : kCases) {
    Write("file", "", c.before);
    EXPECT_TRUE(SetHostAttributes(Path("file"), c.attributes, &error));
    EXPECT_EQ(Lstat("file").st_mode & 07777, c.after)
        << std::oct << c.before << " " << c.attributes;
  }

  Write("file", "", 0640);
  ASSERT_EQ(symlink("file", Path("link").c_str()), 0);
  EXPECT_TRUE(SetHostAttributes(Path("link"), kAttributeReadOnly, &error));
  EXPECT_EQ(Lstat("file").st_mode & 07777, 0640u);

  EXPECT_FALSE(SetHostAttributes(Path("missing"), 0, &error));
  EXPECT_EQ(error, "lstat(" + Path("missing") + "): " + Strerror(ENOENT));
}

TEST_F(PosixFilesTest, OpenHostFileReadsFilesOnly) {
  std::string data(200000, 'x');
  for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<char>(i);
  Write("file", data, 0444);
  std::unique_ptr<InputFile> file = OpenHostFile(Path("file"));
  ASSERT_NE(file, nullptr);
  std::string read;
  char buf[4096];
  long n;
  while ((n = file->Read(buf, sizeof buf)) > 0) read.append(buf, n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(read, data);

  MakeDir("dir");
  EXPECT_EQ(OpenHostFile(Path("dir")), nullptr);
  EXPECT_EQ(OpenHostFile(Path("missing")), nullptr);
}

// Copy tests run with an unnamed (O_TMPFILE) and with a named temporary.
class CopyHostFileTest : public PosixFilesTest,
                         public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    PosixFilesTest::SetUp();
    SetUnnamedTemporariesForTesting(GetParam());
  }
  void TearDown() override {
    SetUnnamedTemporariesForTesting(true);
    PosixFilesTest::TearDown();
  }
  bool Copy(const std::string& from, const std::string& to) {
    return CopyHostFile(Path(from), Path(to), &error_);
  }

  std::string error_;
};

INSTANTIATE_TEST_SUITE_P(Temporaries, CopyHostFileTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Unnamed" : "Named";
                         });

TEST_P(CopyHostFileTest, ReplacesDestinationWithNewFile) {
  Write("new", "new contents");
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("new").c_str(), times, 0), 0);
  Write("dest", "old", 0600);
  ino_t old_inode = Lstat("dest").st_ino;

  ASSERT_TRUE(Copy("new", "dest")) << error_;
  EXPECT_EQ(Read("dest"), "new contents");
  struct stat st = Lstat("dest");
  EXPECT_NE(st.st_ino, old_inode);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);

  Write("readonly", "ro", 0444);
  ASSERT_TRUE(Copy("readonly", "created")) << error_;
  EXPECT_EQ(Read("created"), "ro");
  EXPECT_EQ(Lstat("created").st_mode & 07777, 0444u);
  EXPECT_EQ(Names(""),
            (std::vector<std::string>{"created", "dest", "new", "readonly"}));
}

TEST_P(CopyHostFileTest, ReplacesSymlinkNotItsTarget) {
  Write("new", "new");
  Write("target", "target");
  ASSERT_EQ(symlink("target", Path("dest").c_str()), 0);
  ASSERT_TRUE(Copy("new", "dest")) << error_;
  EXPECT_TRUE(S_ISREG(Lstat("dest").st_mode));
  EXPECT_EQ(Read("dest"), "new");
  EXPECT_EQ(Read("target"), "target");
}

TEST_P(CopyHostFileTest, RefusalsLeaveDestinationAsItWas) {
  Write("new", "new");
  Write("readonly", "old", 0444);
  MakeDir("dir");

  EXPECT_FALSE(Copy("new", "readonly"));
  EXPECT_EQ(error_, "open(" + Path("readonly") + "): " + Strerror(EACCES));
  EXPECT_EQ(Read("readonly"), "old");
  EXPECT_EQ(Lstat("readonly").st_mode & 07777, 0444u);

  EXPECT_FALSE(Copy("new", "dir"));
  EXPECT_EQ(error_, "open(" + Path("dir") + "): " + Strerror(EISDIR));
  EXPECT_TRUE(S_ISDIR(Lstat("dir").st_mode));

  EXPECT_FALSE(Copy("new", "missing/dest"));
  EXPECT_EQ(error_, "open(" + Path("missing") + "): " + Strerror(ENOENT));

  EXPECT_FALSE(Copy("absent", "readonly"));
  EXPECT_EQ(error_, "open(" + Path("absent") + "): " + Strerror(ENOENT));

  EXPECT_FALSE(Copy("dir", "new"));
  EXPECT_EQ(error_, "read(" + Path("dir") + "): " + Strerror(EISDIR));
  EXPECT_EQ(Read("new"), "new");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"dir", "new", "readonly"}));
  EXPECT_TRUE(Names("dir").empty());
}

// Runs CopyHostFile(big, dest) in a child limited to writing 64 KiB files,
// with SIGXFSZ at `action`. Returns the child's wait status; the copy's
// error, if it returned, is in `*error`.
int CopyInLimitedChild(const std::string& big, const std::string& dest,
                       void (*action)(int), std::string* error) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const rlimit fsize = {64 * 1024, 64 * 1024}, core = {0, 0};
    setrlimit(RLIMIT_FSIZE, &fsize);
    setrlimit(RLIMIT_CORE, &core);
    signal(SIGXFSZ, action);
    std::string message;
    bool copied = CopyHostFile(big, dest, &message);
    if (write(fds[1], message.data(), message.size()) < 0) _exit(2);
    _exit(copied ? 1 : 0);
  }
  close(fds[1]);
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) error->append(buf, n);
  close(fds[0]);
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST_P(CopyHostFileTest, WriteFailureLeavesOldFileAndNoTemporary) {
  Write("big", std::string(1 << 20, 'b'));
  Write("dest", "old");
  std::string error;
  int status = CopyInLimitedChild(Path("big"), Path("dest"), SIG_IGN, &error);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not fail";
  EXPECT_NE(error.find(Strerror(EFBIG)), std::string::npos) << error;
  EXPECT_EQ(Read("dest"), "old");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"big", "dest"}));
}

TEST_F(PosixFilesTest, KilledCopyLeavesOldFileAndNoName) {
  int probe = open(root_.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "no O_TMPFILE here: " << Strerror(errno);
  close(probe);
  Write("big", std::string(1 << 20, 'b'));
  Write("dest", "old");
  std::string error;
  int status = CopyInLimitedChild(Path("big"), Path("dest"), SIG_DFL, &error);
  ASSERT_TRUE(WIFSIGNALED(status)) << status << " " << error;
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(Read("dest"), "old");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"big", "dest"}));
}

// HostCopier: announced copies end as CopyHostFile's do.
class HostCopierTest : public PosixFilesTest {
 protected:
  void Announce(const std::string& from, const std::string& to) {
    copier_.Announce(Path(from), Path(to));
  }
  bool Copy(const std::string& from, const std::string& to,
            bool announced = true) {
    return copier_.Copy(Path(from), Path(to), announced, &error_);
  }
  static size_t OpenFds() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
      while (readdir(d)) ++n;
      closedir(d);
    }
    return n;
  }

  HostCopier copier_;
  std::string error_;
};

TEST_F(HostCopierTest, WritesAheadUnseenThenReplacesAsCopyHostFile) {
  Write("a", "new a");
  Write("b", "new b", 0444);
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("a").c_str(), times, 0), 0);
  MakeDir("game");
  Write("game/a", "old a", 0600);
  size_t fds = OpenFds();

  Announce("a", "game/a");
  Announce("b", "game/b");
  int probe = open(root_.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe >= 0) {
    close(probe);
    EXPECT_GT(OpenFds(), fds) << "nothing was written ahead";
  }
  EXPECT_EQ(Names("game"), std::vector<std::string>{"a"});
  EXPECT_EQ(Read("game/a"), "old a");

  ASSERT_TRUE(Copy("a", "game/a")) << error_;
  EXPECT_EQ(Names("game"), std::vector<std::string>{"a"});
  ASSERT_TRUE(Copy("b", "game/b")) << error_;
  EXPECT_EQ(Read("game/a"), "new a");
  EXPECT_EQ(Read("game/b"), "new b");
  struct stat st = Lstat("game/a");
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  EXPECT_EQ(Lstat("game/b").st_mode & 07777, 0444u);
  EXPECT_EQ(Names("game"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(OpenFds(), fds);
}

TEST_F(HostCopierTest, CopiesSourcesAsTheyAreWhenTheirTurnComes) {
  // The second copy's source is the first one's destination: it must get
  // the data the first copy put there, not what was there when announced.
  Write("new", "new");
  Write("first", "old first");
  Write("second", "old second");
  Write("third", "old third");
  Announce("new", "first");
  Announce("first", "second");
  Announce("third", "elsewhere");
  ASSERT_TRUE(Copy("new", "first")) << error_;
  ASSERT_TRUE(Copy("first", "second")) << error_;
  EXPECT_EQ(Read("second"), "new");

  // Rewritten in place after its announcement.
  std::ofstream(Path("third"), std::ios::binary) << "newer third";
  ASSERT_TRUE(Copy("third", "elsewhere")) << error_;
  EXPECT_EQ(Read("elsewhere"), "newer third");
}

TEST_F(HostCopierTest, FailuresAndOtherPathsAreThoseOfCopyHostFile) {
  Write("new", "new");
  Write("readonly", "old", 0444);
  Announce("new", "readonly");
  Announce("", "");  // a copy that fails before it is made
  Announce("new", "planned");
  Announce("new", "unannounced");

  EXPECT_FALSE(Copy("new", "readonly"));
  EXPECT_EQ(error_, "open(" + Path("readonly") + "): " + Strerror(EACCES));
  EXPECT_EQ(Read("readonly"), "old");
  copier_.Forget();
  // Announced for one destination, made for another.
  ASSERT_TRUE(Copy("new", "actual")) << error_;
  ASSERT_TRUE(Copy("new", "unannounced", false)) << error_;
  EXPECT_EQ(Read("actual"), "new");
  EXPECT_EQ(Read("unannounced"), "new");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"actual", "new", "readonly",
                                                 "unannounced"}));
}

}  // namespace
}  // namespace patcher
