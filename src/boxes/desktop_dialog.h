// Boxes as desktop dialogs (zenity, else kdialog) for the Linux build when
// it is started without a terminal, from a file manager or a launcher.

#ifndef PATCHER_BOXES_DESKTOP_DIALOG_H_
#define PATCHER_BOXES_DESKTOP_DIALOG_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace patcher {

/// What standard input offers a console box.
enum class InputKind {
  kTerminal,  // a terminal: the console can ask
  kNothing,   // closed, /dev/null, or a regular file read to its end: a
              // console question would read the end of input at once
  kData,      // anything else (a pipe, a file with data left, a socket):
              // answers may come from it
};

/// Returns what `fd` offers, reading nothing from it. Call it before the
/// process opens any file, so that a closed fd is not yet reused.
InputKind ClassifyInput(int fd);

/// The program that shows boxes as dialogs on a desktop.
enum class DialogProgram { kNone, kZenity, kKdialog };

/// What decides how boxes are shown, as found when the program starts.
struct DesktopFacts {
  InputKind input = InputKind::kData;
  const char* display = nullptr;          // $DISPLAY
  const char* wayland_display = nullptr;  // $WAYLAND_DISPLAY
  bool has_zenity = false;
  bool has_kdialog = false;
};

/// Returns the program to show boxes with: zenity, else kdialog, when the
/// console cannot ask (standard input offers nothing and is no terminal) and
/// a graphical session is there (DISPLAY or WAYLAND_DISPLAY set and not
/// empty). Returns kNone when boxes stay on the console.
DialogProgram ChooseDialogProgram(const DesktopFacts& facts);

/// Returns the arguments, the program's name first, that show a box with
/// `program` (not kNone): the caption as title, the text (both UTF-8) shown
/// literally,
/// Yes and No for kBoxYesNo, an error dialog for an OK box captioned "Error"
/// or "Failed" and an information dialog for other OK boxes.
std::vector<std::string> DialogArguments(DialogProgram program,
                                         const char* text, const char* caption,
                                         BoxType type);

/// Returns the arguments, the program's name first, that ask with `program`
/// (not kNone) for a folder: a folder chooser titled `title` that opens in
/// `start` and prints the folder chosen.
std::vector<std::string> FolderChooserArguments(DialogProgram program,
                                                const std::string& title,
                                                const std::string& start);

/// Returns the UTF-8 `text` as rich text that kdialog shows literally: its
/// labels take rich text when a text looks like markup, so every text is
/// made rich text, with markup characters escaped and white space kept.
std::string RichTextLiteral(const std::string& text);

/// Reads a dialog program's wait status. Returns true with `*answer` set
/// when the dialog was answered: exit status 0 is Yes (or OK), 1 is No or
/// a closed window (OK for an OK box). Returns false for any other status
/// (the program failed, could not be started or was killed): the box was
/// not shown.
bool AnswerFromStatus(int wait_status, BoxType type, int* answer);

/// Returns true when the locale that LC_ALL, LC_CTYPE and LANG (the first
/// one set and not empty) name reads text as UTF-8.
bool LocaleIsUtf8(const char* lc_all, const char* lc_ctype, const char* lang);

/// Returns this process's environment as dialog programs get it. Their
/// texts are UTF-8: where the locale does not read UTF-8, they run with
/// LC_ALL=C.UTF-8.
std::vector<std::string> DialogEnvironment();

/// Shows boxes as desktop dialogs when the surroundings call for it.
class DesktopDialogs {
 public:
  /// Dialogs with `program` found at `path`; kNone shows none.
  DesktopDialogs(DialogProgram program, std::string path)
      : program_(program), path_(std::move(path)) {}

  /// Looks at this process: standard input, DISPLAY, WAYLAND_DISPLAY and
  /// the programs on PATH.
  static DesktopDialogs FromEnvironment();

  /// Shows the box, whose texts are UTF-8, as a dialog and waits for it.
  /// Returns true with
  /// `*answer` set as Platform::ShowBox sets it; false when no dialog was
  /// shown (none chosen, or the program failed), so the caller shows the
  /// box on the console.
  bool Show(const char* text, const char* caption, BoxType type,
            int* answer) const;

  /// Asks for a folder in a folder chooser titled `title` (UTF-8) that
  /// opens in `start`, and waits for it. Returns true with `*folder` set to
  /// the folder chosen; false when the user cancelled, no chooser could be
  /// shown, or dialogs are not shown at all.
  bool ChooseFolder(const std::string& title, const std::string& start,
                    std::string* folder) const;

  DialogProgram program() const { return program_; }
  const std::string& path() const { return path_; }

 private:
  DialogProgram program_;
  std::string path_;
};

}  // namespace patcher

#endif  // PATCHER_BOXES_DESKTOP_DIALOG_H_
