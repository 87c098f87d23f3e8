// SIGINT, SIGTERM and SIGHUP held while a file is being replaced, so that a
// run stopped by one of them leaves every file whole and says how far it
// came.

#ifndef PATCHER_POSIX_STOP_SIGNALS_H_
#define PATCHER_POSIX_STOP_SIGNALS_H_

#include <cstddef>

namespace patcher {

/// Catches SIGINT, SIGTERM and SIGHUP from now on (calls after the first do
/// nothing). One that comes while HoldStops() is in force waits for
/// ReleaseStops(); otherwise, or then, the program writes on standard error
/// `patcher: stopped by SIGINT after 12 of 40 files; run the patch again to
/// finish it` (the figures as SetStopProgress last set them; nothing when
/// every file is done) and ends as that signal would have ended it: raised
/// again with its default action.
void CatchStopSignals();

/// Sets the figures the stop line gives: `done` files of `total`.
void SetStopProgress(size_t done, size_t total);

/// Holds the signals CatchStopSignals catches until ReleaseStops().
void HoldStops();

/// Ends the hold; a signal that came meanwhile stops the program now.
void ReleaseStops();

}  // namespace patcher

#endif  // PATCHER_POSIX_STOP_SIGNALS_H_
