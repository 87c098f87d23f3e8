// The progress window of the Linux build: while files are copied, a window
// titled "Patching" shows the current "source -> destination" line and the
// share of the copies done, when the boxes are desktop dialogs. zenity's
// progress dialog is fed through a pipe; kdialog's progress bar is driven
// with dbus-send. The window has no Cancel: closing it never stops the run.

#ifndef PATCHER_BOXES_PROGRESS_WINDOW_H_
#define PATCHER_BOXES_PROGRESS_WINDOW_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "boxes/desktop_dialog.h"
#include "posix/scoped_fd.h"
#include "posix/subprocess.h"

namespace patcher {

/// How far a copy pass has come, from the copies planned before it.
class CopyShare {
 public:
  /// Plans the next copy; `size` is its source's size in bytes, or -1 when
  /// it is not known.
  void Plan(int64_t size);

  /// Counts the next copy as done, whether it was made or failed.
  void Done();

  /// Returns the percentage done, rounded down: by bytes when the size of
  /// every planned copy is known and they add up to more than nothing, else
  /// by entries. Returns 0 when nothing is planned; less than 100 while a
  /// planned copy is not done; 100 once all are, even when more copies were
  /// done than planned (the list changed after the check).
  int Percent() const;

 private:
  std::vector<int64_t> sizes_;  // of each planned copy
  size_t done_ = 0;
  bool sizes_known_ = true;
  uint64_t bytes_planned_ = 0;
  uint64_t bytes_done_ = 0;
};

/// The longest line fed to zenity, its line end included: a pipe takes a
/// write of up to PIPE_BUF bytes whole or not at all.
constexpr size_t kFeedLineMax = 4096;

/// Returns the arguments, zenity's name first, that open the progress
/// window: titled "Patching", no Cancel button, at 0 %, closing itself when
/// its input ends (so that it goes when this program dies) or reaches 100 %.
std::vector<std::string> ZenityProgressArguments();

/// Returns the line that makes the UTF-8 `text` the window's text, shown
/// literally: "# ", the text with each backslash doubled (zenity reads
/// backslash escapes in it), a line end. A text too long for kFeedLineMax bytes
/// is cut at a whole character and ends in "...".
std::string ZenityTextLine(const std::string& text);

/// Returns the line that sets the window's percentage: the number and a
/// line end, `percent` held to 0..100.
std::string ZenityPercentLine(int percent);

/// Where kdialog's progress dialog answers on the session bus.
struct KdialogReference {
  std::string service;  // "org.kde.kdialog-1234"
  std::string path;     // "/ProgressDialog"
};

/// Reads what `kdialog --progressbar` prints: a service name, a blank and
/// an object path, then a line end. Returns true with `*reference` set, or
/// false when `output` is not that.
bool ParseKdialogReference(const std::string& output,
                           KdialogReference* reference);

/// Returns the arguments, kdialog's name first, that open the progress
/// window with `text` (as for ZenityTextLine) and a scale of 0 to 100.
std::vector<std::string> KdialogProgressArguments(const std::string& text);

/// Returns the arguments, dbus-send's name first, that set the text of the
/// progress dialog at `reference` to `text` (shown literally).
std::vector<std::string> KdialogTextArguments(const KdialogReference& reference,
                                              const std::string& text);

/// Returns the arguments, dbus-send's name first, that set the percentage of
/// the progress dialog at `reference`, held to 0..100.
std::vector<std::string> KdialogPercentArguments(
    const KdialogReference& reference, int percent);

/// Returns the arguments, dbus-send's name first, that close the progress
/// dialog at `reference`.
std::vector<std::string> KdialogCloseArguments(
    const KdialogReference& reference);

/// The progress window, opened when the first copy starts, closed before
/// every box and opened again at the copy after it. Its failures never
/// reach the run: a window that cannot be started, or that the user closed,
/// is not shown again for the rest of the run.
class ProgressWindow {
 public:
  /// A window shown with `program` found at `path`; kNone shows none.
  ProgressWindow(DialogProgram program, std::string path);
  /// Closes the window.
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  /// Tells whether this window is ever shown (the boxes are dialogs).
  bool enabled() const { return program_ != DialogProgram::kNone; }

  /// Shows `text` (as for ZenityTextLine) and `percent`, first opening the
  /// window when it is closed.
  void Show(const std::string& text, int percent);

  /// Sets the percentage shown, when the window is open.
  void SetPercent(int percent);

  /// Closes the window, when open, and waits until it is gone.
  void Close();

 private:
  bool OpenZenity();
  bool OpenKdialog(const std::string& text);
  /// Feeds one line to zenity. Returns true when it went; gives up on a
  /// window that is gone.
  bool Feed(const std::string& line);
  /// Runs dbus-send with `args`; gives up on a window that is gone.
  void Call(const std::vector<std::string>& args);
  /// Closes the window, and shows none for the rest of the run.
  void GiveUp();

  DialogProgram program_;
  std::string path_;
  bool given_up_ = false;
  bool open_ = false;
  int percent_shown_ = -1;
  // zenity: the process and the pipe to its standard input.
  pid_t pid_ = -1;
  ScopedFd feed_;
  // kdialog: where its dialog answers, and when its text last changed.
  KdialogReference kdialog_;
  std::string dbus_send_;
  std::chrono::steady_clock::time_point text_shown_at_;
};

}  // namespace patcher

#endif  // PATCHER_BOXES_PROGRESS_WINDOW_H_
