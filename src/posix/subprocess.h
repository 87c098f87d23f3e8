// Other programs run from this one: found on PATH, started without a shell,
// waited for with or without a deadline, and fed through pipes that never
// hold up or end this process.

#ifndef PATCHER_POSIX_SUBPROCESS_H_
#define PATCHER_POSIX_SUBPROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "posix/scoped_fd.h"

namespace patcher {

/// Returns the path of the executable regular file `name` in the first
/// absolute directory of the colon-separated `path` that has one (relative
/// entries are skipped), or the empty text when there is none or `path` is
/// null.
std::string FindProgram(const char* name, const char* path);

/// Starts `path` with `args` (args[0] is its name) and the environment `env`
/// ("NAME=value" each) without a shell and returns at once. Its standard
/// input is `input_fd` (when -1, this process's own), its standard output
/// `output_fd` (when -1, /dev/null), its standard error /dev/null. Returns
/// its process id, or -1 when it could not be started.
pid_t StartProgram(const std::string& path,
                   const std::vector<std::string>& args,
                   const std::vector<std::string>& env, int input_fd = -1,
                   int output_fd = -1);

/// Runs `path` with `args` in `env` as StartProgram starts it and waits for
/// it. Returns its wait status, or -1 when it could not be started.
int RunProgram(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& env);

/// Waits for the child `pid` to end. Returns its wait status, or -1 when
/// there is no such child.
int WaitForProgram(pid_t pid);

/// Waits for the child `pid` until `deadline`; then kills it. Returns its
/// wait status, or -1 when it had to be killed.
int WaitForProgramUntil(pid_t pid,
                        std::chrono::steady_clock::time_point deadline);

/// Makes a pipe whose ends close on exec and are not standard input, output
/// or error: started with one of those closed, this process would otherwise
/// get the pipe under its number and write its own lines into it. Returns
/// false when it cannot be made.
bool MakePipe(ScopedFd* read_end, ScopedFd* write_end);

/// Reads `fd` up to the first line end, its end, or `deadline`. Returns
/// what was read, the line end included when one came.
std::string ReadLineUntil(int fd,
                          std::chrono::steady_clock::time_point deadline);

/// What became of a write to a pipe.
enum class FeedResult {
  kWritten,  // all of it
  kFull,     // a non-blocking pipe had no room: nothing was written
  kClosed,   // the reader is gone, or the write failed: nothing more goes
};

/// Writes `data` (at most PIPE_BUF bytes, so all or nothing) to the pipe
/// `fd` with one write. A reader that is gone raises no SIGPIPE in this
/// process, whatever its signal settings: SIGPIPE is blocked around the
/// write and the one the write raised is taken back, while one that was
/// pending before (from standard output, say) is left pending.
FeedResult FeedPipe(int fd, const std::string& data);

}  // namespace patcher

#endif  // PATCHER_POSIX_SUBPROCESS_H_
