// The drives of a Wine prefix, and on which of them Wine sees a directory of
// the host.

#ifndef PATCHER_WINE_DRIVES_H_
#define PATCHER_WINE_DRIVES_H_

#include <string>
#include <vector>

namespace patcher {

/// Where Wine sees a host directory.
struct DrivePlace {
  char drive = 0;                 // the drive letter in upper case
  std::string root;               // the drive's folder: <prefix>/dosdevices/x:
  std::vector<std::string> rest;  // the names below it, down to the directory
};

/// Finds the drive on which Wine sees the host directory `dir` (absolute and
/// free of symbolic links, as getcwd gives it), as Wine finds it: the drive
/// whose folder is the nearest of `dir` and its parents (the first letter
/// when several drives share that folder). Returns false when no drive of
/// the prefix at `prefix` holds it.
bool FindDriveOf(const std::string& prefix, const std::string& dir,
                 DrivePlace* place);

}  // namespace patcher

#endif  // PATCHER_WINE_DRIVES_H_
