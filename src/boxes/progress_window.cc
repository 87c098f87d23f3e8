// The progress window shown while files are copied, when the boxes are
// desktop dialogs. Like the dialogs, its program is started without a shell;
// unlike them, it runs beside the copies and is never waited for, except to
// see it gone when it is closed.

#include "boxes/progress_window.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "text/text.h"

namespace patcher {

static_assert(kFeedLineMax <= PIPE_BUF, "a fed line must go in one write");

namespace {

const char kTitle[] = "Patching";
const char kKdialogInterface[] = "org.kde.kdialog.ProgressDialog";

/// kdialog's text is changed at most this often: each change starts
/// dbus-send, and a patch of many small files would start thousands.
constexpr std::chrono::milliseconds kKdialogTextInterval(200);

/// How long kdialog may take to say where its dialog answers.
constexpr std::chrono::seconds kKdialogStartLimit(10);

int Clamp(int percent) { return std::min(100, std::max(0, percent)); }

std::vector<std::string> DbusSendArguments(const KdialogReference& reference,
                                           const std::string& member,
                                           std::vector<std::string> args) {
  std::vector<std::string> all = {"dbus-send",
                                  "--session",
                                  "--print-reply=literal",
                                  "--reply-timeout=2000",
                                  "--dest=" + reference.service,
                                  reference.path,
                                  member};
  for (std::string& arg : args) all.push_back(std::move(arg));
  return all;
}

}  // namespace

void CopyShare::Plan(int64_t size) {
  sizes_.push_back(size);
  if (size < 0) {
    sizes_known_ = false;
  } else {
    bytes_planned_ += static_cast<uint64_t>(size);
  }
}

void CopyShare::Done() {
  if (done_ < sizes_.size() && sizes_[done_] > 0)
    bytes_done_ += static_cast<uint64_t>(sizes_[done_]);
  ++done_;
}

int CopyShare::Percent() const {
  if (sizes_.empty()) return 0;
  if (done_ >= sizes_.size()) return 100;
  double share = sizes_known_ && bytes_planned_ > 0
                     ? static_cast<double>(bytes_done_) / bytes_planned_
                     : static_cast<double>(done_) / sizes_.size();
  return std::min(99, static_cast<int>(share * 100));
}

std::vector<std::string> ZenityProgressArguments() {
  // --auto-close: zenity ends when its input ends, so that the window goes
  // with this program, however it ends. Without --auto-kill, closing the
  // window ends only zenity.
  return {"zenity",         std::string("--title=") + kTitle,
          "--progress",     "--text=",
          "--percentage=0", "--no-cancel",
          "--auto-close",   "--width=500"};
}

std::string ZenityTextLine(const std::string& text) {
  const std::string& utf8 = text;
  std::string out = "# ";
  size_t fits = out.size();  // the end of the whole characters that leave
                             // room for "..." and the line end
  for (size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t len = std::max<size_t>(1, Utf8SequenceLength(lead));
    out += lead == '\\' ? "\\\\" : utf8.substr(i, len);
    if (out.size() <= kFeedLineMax - 4) fits = out.size();
    i += len;
  }
  if (out.size() + 1 > kFeedLineMax) {
    out.resize(fits);
    out += "...";
  }
  return out + "\n";
}

std::string ZenityPercentLine(int percent) {
  return std::to_string(Clamp(percent)) + "\n";
}

bool ParseKdialogReference(const std::string& output,
                           KdialogReference* reference) {
  size_t end = output.find('\n');
  if (end == std::string::npos) return false;
  size_t blank = output.find(' ');
  if (blank == std::string::npos || blank == 0 || blank > end) return false;
  std::string path = output.substr(blank + 1, end - blank - 1);
  if (path.empty() || path[0] != '/' || path.find(' ') != std::string::npos)
    return false;
  reference->service = output.substr(0, blank);
  reference->path = path;
  return true;
}

std::vector<std::string> KdialogProgressArguments(const std::string& text) {
  return {"kdialog", "--title", kTitle, "--progressbar", RichTextLiteral(text),
          "100"};
}

std::vector<std::string> KdialogTextArguments(const KdialogReference& reference,
                                              const std::string& text) {
  return DbusSendArguments(reference,
                           std::string(kKdialogInterface) + ".setLabelText",
                           {"string:" + RichTextLiteral(text)});
}

std::vector<std::string> KdialogPercentArguments(
    const KdialogReference& reference, int percent) {
  return DbusSendArguments(
      reference, "org.freedesktop.DBus.Properties.Set",
      {std::string("string:") + kKdialogInterface, "string:value",
       "variant:int32:" + std::to_string(Clamp(percent))});
}

std::vector<std::string> KdialogCloseArguments(
    const KdialogReference& reference) {
  return DbusSendArguments(reference, std::string(kKdialogInterface) + ".close",
                           {});
}

ProgressWindow::ProgressWindow(DialogProgram program, std::string path)
    : program_(program), path_(std::move(path)) {}

ProgressWindow::~ProgressWindow() { Close(); }

void ProgressWindow::Show(const std::string& text, int percent) {
  if (!enabled() || given_up_) return;
  auto now = std::chrono::steady_clock::now();
  if (!open_) {
    bool opened =
        program_ == DialogProgram::kZenity ? OpenZenity() : OpenKdialog(text);
    if (!opened) {
      GiveUp();
      return;
    }
    open_ = true;
    percent_shown_ = -1;
    if (program_ == DialogProgram::kKdialog) text_shown_at_ = now;
  }
  if (program_ == DialogProgram::kZenity) {
    Feed(ZenityTextLine(text));
  } else if (now - text_shown_at_ >= kKdialogTextInterval) {
    Call(KdialogTextArguments(kdialog_, text));
    text_shown_at_ = now;
  }
  SetPercent(percent);
}

void ProgressWindow::SetPercent(int percent) {
  if (!open_ || percent == percent_shown_) return;
  if (program_ == DialogProgram::kZenity) {
    if (Feed(ZenityPercentLine(percent))) percent_shown_ = percent;
  } else {
    Call(KdialogPercentArguments(kdialog_, percent));
    percent_shown_ = percent;
  }
}

void ProgressWindow::Close() {
  if (!open_) return;
  open_ = false;
  if (program_ == DialogProgram::kZenity) {
    feed_.reset();
    // The end of its input would end it too, but only once it reads it.
    kill(pid_, SIGTERM);
    WaitForProgram(pid_);
    pid_ = -1;
  } else {
    RunProgram(dbus_send_, KdialogCloseArguments(kdialog_),
               DialogEnvironment());
  }
}

bool ProgressWindow::OpenZenity() {
  ScopedFd read_end;
  if (!MakePipe(&read_end, &feed_)) return false;
  // A full pipe drops a line rather than holding up the copies: the next
  // line says all that the dropped one did.
  if (fcntl(feed_.get(), F_SETFL, O_NONBLOCK) == 0)
    pid_ = StartProgram(path_, ZenityProgressArguments(), DialogEnvironment(),
                        read_end.get());
  if (pid_ == -1) feed_.reset();
  return pid_ != -1;
}

bool ProgressWindow::OpenKdialog(const std::string& text) {
  if (dbus_send_.empty()) dbus_send_ = FindProgram("dbus-send", getenv("PATH"));
  if (dbus_send_.empty()) return false;
  ScopedFd read_end, write_end;
  if (!MakePipe(&read_end, &write_end)) return false;
  pid_t pid = StartProgram(path_, KdialogProgressArguments(text),
                           DialogEnvironment(), -1, write_end.get());
  write_end.reset();
  if (pid == -1) return false;
  // kdialog prints where its dialog answers and ends; the dialog lives on
  // in a process of its own.
  auto deadline = std::chrono::steady_clock::now() + kKdialogStartLimit;
  std::string output = ReadLineUntil(read_end.get(), deadline);
  int status = WaitForProgramUntil(pid, deadline);
  return status == 0 && ParseKdialogReference(output, &kdialog_);
}

bool ProgressWindow::Feed(const std::string& line) {
  switch (FeedPipe(feed_.get(), line)) {
    case FeedResult::kWritten:
      return true;
    case FeedResult::kFull:
      return false;
    case FeedResult::kClosed:
      break;
  }
  GiveUp();  // the user closed the window
  return false;
}

void ProgressWindow::Call(const std::vector<std::string>& args) {
  if (RunProgram(dbus_send_, args, DialogEnvironment()) != 0) GiveUp();
}

void ProgressWindow::GiveUp() {
  Close();
  given_up_ = true;
}

}  // namespace patcher
