// Tests of telling whether a wineserver runs for a prefix.

#include "prefixes/wineserver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "test_util.h"

namespace patcher {
namespace {

/// A child process that holds a lock of `type` on byte `start` of `path`,
/// as a wineserver holds its lock, until it is destroyed.
class LockHolder {
 public:
  LockHolder(const std::string& path, short type, off_t start) {
    int ready[2];
    EXPECT_EQ(0, pipe(ready));
    EXPECT_EQ(0, pipe(release_));
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(path.c_str(), O_RDWR);
      struct flock lock = {};
      lock.l_type = type;
      lock.l_whence = SEEK_SET;
      lock.l_start = start;
      lock.l_len = 1;
      char ok = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      close(release_[1]);
      char c;
      while (read(release_[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release_[0]);
    char ok = 'n';
    EXPECT_EQ(1, read(ready[0], &ok, 1));
    EXPECT_EQ('y', ok);
    close(ready[0]);
  }
  ~LockHolder() {
    close(release_[1]);
    int status;
    waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_;
  int release_[2];
};

/// Whether another process could take the wineserver's lock now.
bool LockCanBeTaken(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(path.c_str(), O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;
    _exit(fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class WineserverTest : public testing::Test, public ScratchDir {};

/// The locks in the /tmp of each Flatpak app of `apps` in `runtime_dir`.
std::vector<std::string> FlatpakLocks(const std::string& runtime_dir, uid_t uid,
                                      const char* server,
                                      std::vector<std::string> apps = {}) {
  apps.insert(apps.begin(), std::begin(kWineFlatpakApps),
              std::end(kWineFlatpakApps));
  std::vector<std::string> locks;
  for (const std::string& app : apps)
    locks.push_back(runtime_dir + "/.flatpak/" + app + "/tmp/.wine-" +
                    std::to_string(uid) + "/" + server);
  return locks;
}

std::vector<std::string> Joined(std::vector<std::string> a,
                                const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(WineserverTest, LocksInEveryPlaceWineKeepsThem) {
  MakeDir("pfx");
  struct stat st;
  ASSERT_EQ(0, stat(Path("pfx").c_str(), &st));
  char server[64];
  snprintf(server, sizeof server, "server-%llx-%llx/lock",
           static_cast<unsigned long long>(st.st_dev),
           static_cast<unsigned long long>(st.st_ino));
  ServerRoots roots{Path("tmp"), Path("run"), Path("tmpdir"), ""};
  const std::vector<std::string> fixed = {Path("tmp/.wine-1000/") + server,
                                          Path("run/1000/wine/") + server};
  const std::vector<std::string> flatpak =
      FlatpakLocks(Path("run/1000"), 1000, server);
  EXPECT_EQ(Joined(fixed, flatpak), WineserverLocks(Path("pfx"), 1000, roots));
  // Links to the prefix name the same server.
  ASSERT_EQ(0, symlink("pfx", Path("link").c_str()));
  EXPECT_EQ(Joined(fixed, flatpak), WineserverLocks(Path("link"), 1000, roots));
  // XDG_RUNTIME_DIR, when given, holds the Flatpak apps' folders; every
  // app found there counts, each once.
  ServerRoots runtime = roots;
  runtime.runtime_dir = Path("xdg");
  for (const char* dir :
       {"xdg", "xdg/.flatpak", "xdg/.flatpak/org.example.Games",
        "xdg/.flatpak/net.lutris.Lutris"})
    MakeDir(dir);
  EXPECT_EQ(Joined(fixed, FlatpakLocks(Path("xdg"), 1000, server,
                                       {"org.example.Games"})),
            WineserverLocks(Path("pfx"), 1000, runtime));

  // Debian's Wine names its folder in the prefix; anything but one name
  // there is ignored.
  struct Case {
    std::string content;
    bool named;
  };
  const Case cases[] = {
      {"wine-EH9t80", true}, {"wine-EH9t80\n", true},
      {"../../etc", false},  {"..", false},
      {"", false},           {std::string("a\0b", 3), false},
      {"a\nb", false},
  };
  for (const Case& c : cases) {
    Write("pfx/wineserver", c.content, 0400);
    std::vector<std::string> expected = fixed;
    if (c.named) expected.push_back(Path("tmpdir/wine-EH9t80/") + server);
    expected = Joined(expected, flatpak);
    EXPECT_EQ(expected, WineserverLocks(Path("pfx"), 1000, roots)) << c.content;
  }
  // Debian's other folders of this user that hold this prefix's server:
  // the file may name another one than a running server uses.
  const uid_t me = getuid();
  std::string dir = std::string(server).substr(0, strlen(server) - 5);
  MakeDir("tmpdir");
  for (const char* folder :
       {"wine-EH9t80", "wine-other", "wine-empty", "wine-theirs", "other"}) {
    MakeDir(std::string("tmpdir/") + folder);
    if (std::string(folder) != "wine-empty")
      MakeDir(std::string("tmpdir/") + folder + "/" + dir);
  }
  // Another user's folder counts only for them (only root can make one).
  if (me == 0) {
    ASSERT_EQ(0, chown(Path("tmpdir/wine-theirs").c_str(), 1001, 1001));
  } else {
    ASSERT_EQ(0, rename(Path("tmpdir/wine-theirs").c_str(),
                        Path("tmpdir/not-wine-theirs").c_str()));
  }
  Write("tmpdir/wine-file", "");
  ASSERT_EQ(0, symlink("wine-other", Path("tmpdir/wine-link").c_str()));
  Write("pfx/wineserver", "wine-EH9t80\n", 0400);
  std::vector<std::string> expected = {
      Path("tmp/.wine-" + std::to_string(me) + "/") + server,
      Path("run/" + std::to_string(me) + "/wine/") + server,
      Path("tmpdir/wine-EH9t80/") + server,
      Path("tmpdir/wine-other/") + server,
  };
  EXPECT_EQ(Joined(expected,
                   FlatpakLocks(Path("run/" + std::to_string(me)), me, server)),
            WineserverLocks(Path("pfx"), me, roots));

  EXPECT_TRUE(WineserverLocks(Path("none"), 1000, roots).empty());
  Write("file", "");
  EXPECT_TRUE(WineserverLocks(Path("file"), 1000, roots).empty());
}

TEST_F(WineserverTest, LockIsAskedAboutNeverTaken) {
  Write("lock", "", 0600);
  std::string lock = Path("lock");
  EXPECT_FALSE(LockIsHeld(lock));
  {
    LockHolder server(lock, F_WRLCK, 0);
    EXPECT_TRUE(LockIsHeld(lock));
    EXPECT_TRUE(LockIsHeld(lock));  // asking twice changes nothing
  }
  // Asking took nothing: a server that starts now can take its lock.
  EXPECT_TRUE(LockCanBeTaken(lock));
  EXPECT_FALSE(LockIsHeld(lock));
  {
    LockHolder other_byte(lock, F_WRLCK, 1);
    EXPECT_FALSE(LockIsHeld(lock));
  }
  // Not a lock file: missing, a FIFO (not waited on), a link.
  EXPECT_FALSE(LockIsHeld(Path("missing")));
  ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  EXPECT_FALSE(LockIsHeld(Path("fifo")));
  ASSERT_EQ(0, symlink("lock", Path("link").c_str()));
  LockHolder server(lock, F_WRLCK, 0);
  EXPECT_FALSE(LockIsHeld(Path("link")));
}

}  // namespace
}  // namespace patcher
