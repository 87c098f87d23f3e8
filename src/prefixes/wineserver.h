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
};

/// Returns the lock files that a wineserver of the user `uid` for the prefix
/// at `prefix` holds, in each place a Wine build keeps them:
/// `server-<dev>-<ino>/lock` (the prefix folder's device and inode, links
/// resolved, in lower-case hex) under `<tmp>/.wine-<uid>/` and under
/// `<run_user>/<uid>/wine/`; under the folder in `tmpdir` that the prefix's
/// file `wineserver` names (a single name; anything else there is ignored);
/// and under each other folder `wine-*` in `tmpdir` that `uid` owns and that
/// holds a server folder of that name. Returns none when the prefix cannot
/// be examined.
std::vector<std::string> WineserverLocks(const std::string& prefix, uid_t uid,
                                         const ServerRoots& roots);

/// Tells whether some process holds a write lock on byte 0 of the regular
/// file `lock`, as a running wineserver does. Asks with F_GETLK and never
/// takes a lock itself: a wineserver that started meanwhile could not take
/// its own. False when the file is missing or cannot be opened.
bool LockIsHeld(const std::string& lock);

/// Tells whether a wineserver of this user runs for the prefix at `prefix`,
/// looking in the places this host's Wine builds use ($TMPDIR, else /tmp).
bool WineserverRuns(const std::string& prefix);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_WINESERVER_H_
