// Boxes as desktop dialogs on Linux, for a program started without a
// terminal (from a file manager or a launcher), where console boxes would go
// unseen and a question would read the end of input. The dialog program is
// started without a shell; every text reaches it as one argument.

#include "boxes/desktop_dialog.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "posix/subprocess.h"
#include "text/locale_code_page.h"
#include "text/text.h"

extern char** environ;

namespace patcher {

namespace {

bool IsSet(const char* value) { return value && *value; }

}  // namespace

std::string RichTextLiteral(const std::string& text) {
  std::string out = "<qt><p style=\"white-space:pre-wrap\">";
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out + "</p></qt>";
}

namespace {

bool IsErrorCaption(const char* caption) {
  return strcmp(caption, "Error") == 0 || strcmp(caption, "Failed") == 0;
}

}  // namespace

InputKind ClassifyInput(int fd) {
  if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) return InputKind::kNothing;
  if (isatty(fd)) return InputKind::kTerminal;
  struct stat st;
  if (fstat(fd, &st) != 0) return InputKind::kData;
  if (S_ISCHR(st.st_mode)) {
    struct stat null_st;
    bool is_null = stat("/dev/null", &null_st) == 0 &&
                   S_ISCHR(null_st.st_mode) && st.st_rdev == null_st.st_rdev;
    return is_null ? InputKind::kNothing : InputKind::kData;
  }
  if (S_ISREG(st.st_mode)) {
    off_t at = lseek(fd, 0, SEEK_CUR);
    return at >= 0 && at >= st.st_size ? InputKind::kNothing : InputKind::kData;
  }
  return InputKind::kData;  // a pipe or a socket may still bring an answer
}

DialogProgram ChooseDialogProgram(const DesktopFacts& facts) {
  if (facts.input != InputKind::kNothing) return DialogProgram::kNone;
  if (!IsSet(facts.display) && !IsSet(facts.wayland_display))
    return DialogProgram::kNone;
  if (facts.has_zenity) return DialogProgram::kZenity;
  if (facts.has_kdialog) return DialogProgram::kKdialog;
  return DialogProgram::kNone;
}

std::vector<std::string> DialogArguments(DialogProgram program,
                                         const char* text, const char* caption,
                                         BoxType type) {
  std::string title = caption;
  std::string body = text;
  bool question = type == kBoxYesNo;
  bool error = !question && IsErrorCaption(caption);
  if (program == DialogProgram::kKdialog) {
    return {"kdialog", "--title", title,
            question ? "--yesno"
            : error  ? "--error"
                     : "--msgbox",
            RichTextLiteral(body)};
  }
  // --no-markup: zenity's text is Pango markup otherwise. The "=" forms keep
  // a text that starts with "-" from being read as an option.
  return {"zenity",
          question ? "--question"
          : error  ? "--error"
                   : "--info",
          "--title=" + title, "--text=" + body, "--no-markup"};
}

std::vector<std::string> FolderChooserArguments(DialogProgram program,
                                                const std::string& title,
                                                const std::string& start) {
  if (program == DialogProgram::kKdialog)
    return {"kdialog", "--title", title, "--getexistingdirectory", start};
  // A trailing slash opens the folder itself rather than selecting it.
  std::string folder =
      start.empty() || start.back() == '/' ? start : start + "/";
  return {"zenity", "--file-selection", "--directory", "--title=" + title,
          "--filename=" + folder};
}

bool AnswerFromStatus(int wait_status, BoxType type, int* answer) {
  if (wait_status == -1 || !WIFEXITED(wait_status)) return false;
  int code = WEXITSTATUS(wait_status);
  if (code != 0 && code != 1) return false;
  if (type == kBoxYesNo) {
    *answer = code == 0 ? kAnswerYes : kAnswerNo;
  } else {
    *answer = kAnswerOk;
  }
  return true;
}

bool LocaleIsUtf8(const char* lc_all, const char* lc_ctype, const char* lang) {
  std::string lower = ToLowerAscii(CtypeLocaleName(lc_all, lc_ctype, lang));
  return lower.find("utf-8") != std::string::npos ||
         lower.find("utf8") != std::string::npos;
}

std::vector<std::string> DialogEnvironment() {
  // zenity refuses text that its locale cannot read, and a launcher may
  // start us without any locale at all.
  bool utf8 =
      LocaleIsUtf8(getenv("LC_ALL"), getenv("LC_CTYPE"), getenv("LANG"));
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (!utf8 && strncmp(*e, "LC_ALL=", 7) == 0) continue;
    env.push_back(*e);
  }
  if (!utf8) env.push_back("LC_ALL=C.UTF-8");
  return env;
}

DesktopDialogs DesktopDialogs::FromEnvironment() {
  DesktopFacts facts;
  facts.input = ClassifyInput(0);
  facts.display = getenv("DISPLAY");
  facts.wayland_display = getenv("WAYLAND_DISPLAY");
  const char* path = getenv("PATH");
  std::string zenity = FindProgram("zenity", path);
  std::string kdialog = FindProgram("kdialog", path);
  facts.has_zenity = !zenity.empty();
  facts.has_kdialog = !kdialog.empty();
  DialogProgram program = ChooseDialogProgram(facts);
  return DesktopDialogs(program,
                        program == DialogProgram::kZenity ? zenity : kdialog);
}

bool DesktopDialogs::Show(const char* text, const char* caption, BoxType type,
                          int* answer) const {
  if (program_ == DialogProgram::kNone) return false;
  int status = RunProgram(path_, DialogArguments(program_, text, caption, type),
                          DialogEnvironment());
  return AnswerFromStatus(status, type, answer);
}

bool DesktopDialogs::ChooseFolder(const std::string& title,
                                  const std::string& start,
                                  std::string* folder) const {
  if (program_ == DialogProgram::kNone) return false;
  ScopedFd read_end, write_end;
  if (!MakePipe(&read_end, &write_end)) return false;
  pid_t pid =
      StartProgram(path_, FolderChooserArguments(program_, title, start),
                   DialogEnvironment(), -1, write_end.get());
  write_end.reset();
  if (pid == -1) return false;
  // The player may take their time; a day is as long as anyone looks.
  std::string line =
      ReadLineUntil(read_end.get(),
                    std::chrono::steady_clock::now() + std::chrono::hours(24));
  read_end.reset();
  int status = WaitForProgram(pid);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      line.empty() || line.back() != '\n')
    return false;
  line.pop_back();
  if (line.empty()) return false;
  *folder = line;
  return true;
}

}  // namespace patcher
