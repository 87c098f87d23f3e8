// Choosing among the prefixes that hold the game, and the warning while
// programs run in the prefix.

#include "prefixes/discovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "posix/files.h"
#include "text/text.h"

namespace patcher {

namespace {

/// A prefix that holds the game.
struct GameCopy {
  const PrefixCandidate* candidate;
  std::string install_dir;
  struct timespec registry_time;  // system.reg's last change
};

/// Returns the host's UTF-8 `text` in the boxes' ANSI code page.
std::string ForBox(AnsiText* box_text, const std::string& text) {
  return box_text ? box_text->FromUtf16(Utf8ToUtf16(text)) : text;
}

bool ChangedLater(const GameCopy& a, const GameCopy& b) {
  if (a.registry_time.tv_sec != b.registry_time.tv_sec)
    return a.registry_time.tv_sec > b.registry_time.tv_sec;
  return a.registry_time.tv_nsec > b.registry_time.tv_nsec;
}

/// Folder choosers shown at the most when no prefix holds the game.
constexpr int kMaxChoices = 100;

/// Asks for the prefix in the folder chooser until the player picks one
/// that holds the game (true, `*chosen` set) or cancels (false).
bool AskForPrefix(size_t searched, const GameLocator& locate, Platform* boxes,
                  AnsiText* box_text, FILE* err,
                  const FolderChooser& choose_folder, std::string* chosen) {
  std::string title = "The game was not found in the " +
                      std::to_string(searched) + " Wine prefix" +
                      (searched == 1 ? "" : "es") +
                      " searched: choose the Wine prefix it is installed in";
  std::string folder, install_dir;
  // A chooser that answers without the player (a broken one, say) must not
  // keep the run going round for ever.
  for (int asked = 0; asked < kMaxChoices && choose_folder(title, &folder);
       ++asked) {
    std::string text;
    if (!IsWinePrefix(folder)) {
      text = ForBox(box_text, folder) +
             " is not a Wine prefix: it lacks system.reg, user.reg, drive_c "
             "or dosdevices.";
    } else if (!locate(folder, &install_dir)) {
      text = "The registry of the Wine prefix " + ForBox(box_text, folder) +
             " does not hold the game, or the folder it names is missing.";
    } else {
      fprintf(err, "patcher: found the game in the chosen Wine prefix %s\n",
              folder.c_str());
      *chosen = folder;
      return true;
    }
    boxes->ShowBox(text.c_str(), "Error", kBoxOk);
  }
  return false;
}

}  // namespace

bool ChoosePrefix(const std::vector<PrefixCandidate>& candidates,
                  const GameLocator& locate, const std::string& fallback,
                  Platform* boxes, AnsiText* box_text, FILE* err,
                  std::string* chosen, const FolderChooser& choose_folder) {
  std::vector<GameCopy> copies;
  for (const PrefixCandidate& candidate : candidates) {
    GameCopy copy{&candidate, std::string(), {0, 0}};
    if (!locate(candidate.path, &copy.install_dir)) continue;
    struct stat st;
    if (stat(JoinPath(candidate.path, "system.reg").c_str(), &st) == 0)
      copy.registry_time = st.st_mtim;
    copies.push_back(copy);
  }

  if (copies.empty()) {
    fprintf(err,
            "patcher: the game was not found in the %zu Wine prefix%s "
            "searched\n"
            "patcher: name the prefix it is installed in: WINEPREFIX=... "
            "patcher\n",
            candidates.size(), candidates.size() == 1 ? "" : "es");
    if (!choose_folder || !AskForPrefix(candidates.size(), locate, boxes,
                                        box_text, err, choose_folder, chosen))
      *chosen = fallback;
    return true;
  }
  if (copies.size() == 1) {
    fprintf(err, "patcher: found the game in the Wine prefix %s\n",
            copies[0].candidate->path.c_str());
    *chosen = copies[0].candidate->path;
    return true;
  }
  std::stable_sort(copies.begin(), copies.end(), ChangedLater);
  for (const GameCopy& copy : copies) {
    std::string text =
        "The game is installed in more than one Wine prefix.\n\n"
        "Patch the copy in " +
        copy.install_dir + "\nin the prefix " +
        ForBox(box_text, copy.candidate->path);
    if (!copy.candidate->steam_name.empty())
      text += " (" + ForBox(box_text, copy.candidate->steam_name) + ")";
    text += "?";
    if (boxes->ShowBox(text.c_str(), "Warning", kBoxYesNo) == kAnswerYes) {
      *chosen = copy.candidate->path;
      return true;
    }
  }
  return false;
}

bool ConfirmPrefixIdle(
    const std::string& prefix,
    const std::function<bool(const std::string&)>& server_runs, Platform* boxes,
    AnsiText* box_text) {
  if (prefix.empty() || !server_runs(prefix)) return true;
  std::string text =
      "Programs are running in the Wine prefix " + ForBox(box_text, prefix) +
      " (the game may be open). Files that they hold open may be replaced "
      "under them, and recent registry changes may not be saved yet.\n\n"
      "Close the game first. Patch anyway?";
  return boxes->ShowBox(text.c_str(), "Warning", kBoxYesNo) == kAnswerYes;
}

}  // namespace patcher
