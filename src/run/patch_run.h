// The patch run: the banner, the pre-flight check, the question, the copy pass,
// the boxes and the exit status. Its names (run_patch, ...) keep the C style of
// the list and the check it drives.

#ifndef PATCHER_RUN_PATCH_RUN_H_
#define PATCHER_RUN_PATCH_RUN_H_

#include <cstdio>

#include "platform/platform.h"

namespace patcher {

/// Runs one patch from the working directory: prints the banner to `out`,
/// checks the patch, lets the platform warn that the game may be running
/// (Platform::ConfirmGameClosed), asks for confirmation and on Yes copies
/// every entry of the list into the installation directory, one progress
/// line each on `out`. Errors and the outcome are shown in boxes. Returns the
/// exit status: 0 when every copy succeeded or the user answered No (to the
/// warning or the confirmation), 1 when a copy failed (or the list could not
/// be read again), and minus the check's result when the check failed.
int run_patch(Platform* platform, FILE* out);

}  // namespace patcher

#endif  // PATCHER_RUN_PATCH_RUN_H_
