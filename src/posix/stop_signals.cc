// Stop signals held while a file is being replaced.

#include "posix/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <cstddef>

namespace patcher {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_caught = 0;
volatile sig_atomic_t g_holding = 0;
volatile sig_atomic_t g_pending = 0;  // a signal held, or 0
volatile sig_atomic_t g_done = 0;
volatile sig_atomic_t g_total = 0;

/// Appends `text` to `buf` at `*at`, within `size`.
void Append(const char* text, char* buf, size_t size, size_t* at) {
  for (; *text && *at + 1 < size; ++text) buf[(*at)++] = *text;
}

void AppendNumber(size_t n, char* buf, size_t size, size_t* at) {
  char digits[24];
  size_t len = 0;
  do {
    digits[len++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  while (len > 0 && *at + 1 < size) buf[(*at)++] = digits[--len];
}

/// Formats the stop line for `signal` into `buf`, with calls that a signal
/// handler may make. Returns its length, or 0 when every file is done and
/// there is nothing to say.
size_t FormatStopLine(int signal, size_t done, size_t total, char* buf,
                      size_t size) {
  if (total > 0 && done >= total) return 0;
  const char* name = signal == SIGINT    ? "SIGINT"
                     : signal == SIGTERM ? "SIGTERM"
                     : signal == SIGHUP  ? "SIGHUP"
                                         : "a signal";
  size_t at = 0;
  Append("patcher: stopped by ", buf, size, &at);
  Append(name, buf, size, &at);
  Append(" after ", buf, size, &at);
  AppendNumber(done, buf, size, &at);
  Append(" of ", buf, size, &at);
  AppendNumber(total, buf, size, &at);
  Append(" files; run the patch again to finish it\n", buf, size, &at);
  return at;
}

/// Says how far the run came and ends the program by `signal`.
void StopNow(int signal) {
  char line[160];
  size_t len = FormatStopLine(signal, static_cast<size_t>(g_done),
                              static_cast<size_t>(g_total), line, sizeof line);
  if (len > 0 && write(STDERR_FILENO, line, len) < 0) {
    // Nowhere else to say it.
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  // In the handler the signal is blocked until unblocked here.
  raise(signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void OnStop(int signal) {
  if (g_holding) {
    if (g_pending == 0) g_pending = signal;
    return;
  }
  StopNow(signal);
}

}  // namespace

void CatchStopSignals() {
  if (g_caught) return;
  g_caught = 1;
  // SA_RESTART: a call that the signal interrupts while held goes on.
  struct sigaction action = {};
  action.sa_handler = OnStop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

void SetStopProgress(size_t done, size_t total) {
  g_done = static_cast<sig_atomic_t>(done);
  g_total = static_cast<sig_atomic_t>(total);
}

void HoldStops() { g_holding = 1; }

void ReleaseStops() {
  g_holding = 0;
  int signal = g_pending;
  if (signal != 0) StopNow(signal);
}

}  // namespace patcher
