// Whether programs run in a Wine prefix, told from outside without
// disturbing them: while anything runs in a prefix, its wineserver holds a
// write lock on byte 0 of the file `lock` in its server folder, named after
// the prefix folder's device and inode.

#ifndef PATCHER_PREFIXES_WINESERVER_H_
#define PATCHER_PREFIXES_WINESERVER_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace patcher {

/// Where wineservers keep their server folders.
struct ServerRoots {
  std::string tmp = "/tmp";            // upstream Wine, Proton: tmp/.wine-UID
  std::string run_user = "/run/user";  // Debian's: run_user/UID/wine
  std::string tmpdir = "/tmp";         // Debian's otherwise: $TMPDIR
  /// $XDG_RUNTIME_DIR, whose .flatpak/APP/tmp is a Flatpak app's /tmp;
  /// empty means run_user/UID.
  std::string runtime_dir;
};

/// The Flatpak apps that run games under Wine, whose /tmp is looked at
/// even when their folders cannot be listed.
extern const char* const kWineFlatpakApps[6];

/// Returns the lock files that a wineserver of the user `uid` for the prefix
/// at `prefix` holds, in each place a Wine build keeps them:
/// `server-<dev>-<ino>/lock` (the prefix folder's device and inode, links
/// resolved, in lower-case hex) under `<tmp>/.wine-<uid>/` and under
/// `<run_user>/<uid>/wine/`; under the folder in `tmpdir` that the prefix's
/// file `wineserver` names (a single name; anything else there is ignored);
/// and under each other folder `wine-*` in `tmpdir` that `uid` owns and that
/// holds a server folder of that name; then under `.wine-<uid>/` in the /tmp
/// of each Flatpak app (`<runtime_dir>/.flatpak/<app>/tmp/`), those of
/// kWineFlatpakApps first, then the other folders there. Returns none when
/// the prefix cannot be examined.
std::vector<std::string> WineserverLocks(const std::string& prefix, uid_t uid,
                                         const ServerRoots& roots);

/// Tells whether some process holds a write lock on byte 0 of the regular
/// file `lock`, as a running wineserver does. Asks with F_GETLK and never
/// takes a lock itself: a wineserver that started meanwhile could not take
/// its own. False when the file is missing or cannot be opened.
bool LockIsHeld(const std::string& lock);

/// Tells whether a wineserver of this user runs for the prefix at `prefix`,
/// looking in the places this host's Wine builds use ($TMPDIR, else /tmp)
/// and in the /tmp of Flatpak apps ($XDG_RUNTIME_DIR when absolute, else
/// /run/user/UID).
bool WineserverRuns(const std::string& prefix);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_WINESERVER_H_
