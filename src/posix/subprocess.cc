// Other programs started with posix_spawn, waited for, and fed.

#include "posix/subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace patcher {

std::string FindProgram(const char* name, const char* path) {
  if (!path) return std::string();
  const char* p = path;
  for (;;) {
    const char* end = strchr(p, ':');
    size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
    // An empty or relative entry names a folder below the working directory,
    // which is the patch's folder: never take a program from there.
    if (len > 0 && p[0] == '/') {
      std::string candidate = std::string(p, len) + "/" + name;
      struct stat st;
      if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          access(candidate.c_str(), X_OK) == 0)
        return candidate;
    }
    if (!end) return std::string();
    p = end + 1;
  }
}

pid_t StartProgram(const std::string& path,
                   const std::vector<std::string>& args,
                   const std::vector<std::string>& env, int input_fd,
                   int output_fd) {
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& var : env)
    envp.push_back(const_cast<char*>(var.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (input_fd >= 0) posix_spawn_file_actions_adddup2(&actions, input_fd, 0);
  // The program's own output must not mix with this program's lines.
  if (output_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // SIGPIPE, which this program ignores, is the program's own again.
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  int err = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(),
                        envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return err == 0 ? pid : -1;
}

int RunProgram(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& env) {
  pid_t pid = StartProgram(path, args, env);
  return pid == -1 ? -1 : WaitForProgram(pid);
}

int WaitForProgram(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return -1;
  }
  return status;
}

int WaitForProgramUntil(pid_t pid,
                        std::chrono::steady_clock::time_point deadline) {
  int status;
  for (;;) {
    pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid) return status;
    if (got == -1 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) break;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  WaitForProgram(pid);
  return -1;
}

bool MakePipe(ScopedFd* read_end, ScopedFd* write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  ScopedFd low_read(fds[0]), low_write(fds[1]);
  read_end->reset(fcntl(fds[0], F_DUPFD_CLOEXEC, 3));
  write_end->reset(fcntl(fds[1], F_DUPFD_CLOEXEC, 3));
  return read_end->get() >= 0 && write_end->get() >= 0;
}

std::string ReadLineUntil(int fd,
                          std::chrono::steady_clock::time_point deadline) {
  std::string out;
  while (out.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready == -1 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

FeedResult FeedPipe(int fd, const std::string& data) {
  sigset_t sigpipe, old_mask, pending;
  sigemptyset(&sigpipe);
  sigaddset(&sigpipe, SIGPIPE);
  sigprocmask(SIG_BLOCK, &sigpipe, &old_mask);
  bool was_pending =
      sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
  ssize_t n;
  do {
    n = write(fd, data.data(), data.size());
  } while (n == -1 && errno == EINTR);
  int error = errno;
  if (n == -1 && error == EPIPE && !was_pending) {
    const timespec no_wait = {0, 0};
    while (sigtimedwait(&sigpipe, nullptr, &no_wait) == -1 && errno == EINTR) {
    }
  }
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (n >= 0) return FeedResult::kWritten;
  return error == EAGAIN || error == EWOULDBLOCK ? FeedResult::kFull
                                                 : FeedResult::kClosed;
}

}  // namespace patcher
