// Standard output of the Linux build: the run prints text in the ANSI code
// page, and the console shows it in its own encoding; a console that goes
// away does not stop the run.

#ifndef PATCHER_BOXES_CONSOLE_OUTPUT_H_
#define PATCHER_BOXES_CONSOLE_OUTPUT_H_

#include <cstdio>

#include "text/ansi_text.h"

namespace patcher {

/// Returns a stream whose bytes, in the ANSI code page of `text`, reach `out`
/// as UTF-8, or as they are when `text` is null. Text in ASCII passes
/// unchanged; a character cut between two writes is held until its end
/// comes. Each flush of the stream writes to `out` and flushes it. When
/// `out` has no reader any more (EPIPE; SIGPIPE must be ignored), one line
/// on `err` says so and the stream drops what it is given from then on,
/// without failing. Returns null when the stream cannot be made. Close it
/// with fclose before `text` and `out` go.
FILE* OpenConsoleOutput(AnsiText* text, FILE* out, FILE* err);

}  // namespace patcher

#endif  // PATCHER_BOXES_CONSOLE_OUTPUT_H_
