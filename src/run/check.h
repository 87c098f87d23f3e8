// The pre-flight check: whether the patch in the working directory can be
// applied, decided before anything is shown or written.

#ifndef PATCHER_RUN_CHECK_H_
#define PATCHER_RUN_CHECK_H_

#include <cstddef>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace patcher {

/// Results of check_patch().
enum CheckResult {
  CHECK_OK = 0,              // list read, directory found, every source opens
  CHECK_NO_INSTALL_DIR = 1,  // the installation directory cannot be found
  CHECK_MISSING_FILES = 2,   // the list or at least one source does not open
  CHECK_LIST_CORRUPT = 3,    // the list's header is incomplete
};

/// Told, as the check finds it, of a source that does not open: the
/// platform's text naming the failed call, the path and the reason.
using MissingSource = std::function<void(const std::string& error)>;

/// Checks, before anything is shown or written, that the patch in the
/// working directory can be applied: reads the list's header into `message`
/// (unexpanded), finds the game's installation directory in the registry
/// and puts it into `install_dir` as the registry stores it, and tries to
/// open every source the list names. Returns the first failing stage's
/// result, or CHECK_OK. Shows and writes nothing; the list is closed again
/// on return. When `missing` is set, it is called for each source that does
/// not open, in list order, before the next source is tried; the check keeps
/// nothing of them, so that its memory does not grow with the list. Each
/// entry that names a destination is also planned with Platform::PlanCopy,
/// in list order.
int check_patch(Platform* platform, char* message, size_t message_capacity,
                char* install_dir, size_t install_dir_capacity,
                const MissingSource& missing = nullptr);

}  // namespace patcher

#endif  // PATCHER_RUN_CHECK_H_
