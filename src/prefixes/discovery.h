// What the Linux build says and asks about the prefix it patches: which of
// the prefixes found holds the game when none is named, and the warning
// when programs run in the prefix.

#ifndef PATCHER_PREFIXES_DISCOVERY_H_
#define PATCHER_PREFIXES_DISCOVERY_H_

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "prefixes/prefix_search.h"
#include "text/ansi_text.h"

namespace patcher {

/// Looks the game up in the prefix `prefix` as the run would. Returns true
/// with `*install_dir` set (as the registry stores it) when the lookup
/// succeeds and that directory exists in the prefix.
using GameLocator =
    std::function<bool(const std::string& prefix, std::string* install_dir)>;

/// Asks the player for a folder in a chooser titled `title` (UTF-8). Returns
/// true with `*folder` set to the folder chosen; false when they cancelled.
using FolderChooser =
    std::function<bool(const std::string& title, std::string* folder)>;

/// Chooses the prefix to patch when none is named, among `candidates`:
/// those where `locate` finds the game. With none, `err` says how many
/// prefixes were searched and how to name one; then, given a
/// `choose_folder`, the player is asked for the prefix in a chooser whose
/// title says how many were searched: a folder where `locate` finds the game
/// is chosen and `err` says so (`patcher: found the game in the chosen Wine
/// prefix <path>`); any other gets a box captioned "Error" saying that it is
/// no Wine prefix, or that its registry does not hold the game, and the
/// chooser again. Without a chooser, or once the player cancels it, the run
/// goes on with `fallback`; so it does after 100 wrong folders. With one, `err`
/// says which (`patcher: found the game in the Wine prefix <path>`). With
/// several, the user chooses in Yes/No boxes captioned "Warning" shown with
/// `boxes`, one per prefix, the one whose system.reg changed last first; the
/// first Yes chooses (a Steam prefix shows its game's name after its path). Box
/// texts are in the ANSI code page, as `install_dir` is: the host's paths and
/// the game's name, which are UTF-8, are converted with `box_text` (or taken as
/// they are when it is null). Returns true with `*chosen` set; false when the
/// user answered No to every box.
bool ChoosePrefix(const std::vector<PrefixCandidate>& candidates,
                  const GameLocator& locate, const std::string& fallback,
                  Platform* boxes, AnsiText* box_text, FILE* err,
                  std::string* chosen,
                  const FolderChooser& choose_folder = nullptr);

/// Warns, in a Yes/No box captioned "Warning" shown with `boxes`, when
/// `server_runs` tells that programs run in the prefix at `prefix`. Returns
/// false when the user answered anything but Yes; true when nothing runs
/// there or the answer was Yes. The path is converted for the box with
/// `box_text`, as ChoosePrefix converts it.
bool ConfirmPrefixIdle(
    const std::string& prefix,
    const std::function<bool(const std::string&)>& server_runs, Platform* boxes,
    AnsiText* box_text);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_DISCOVERY_H_
