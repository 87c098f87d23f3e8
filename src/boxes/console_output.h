// Standard output of the Linux build: the run prints text in the ANSI code
// page, and the console shows it in its own encoding.

#ifndef PATCHER_BOXES_CONSOLE_OUTPUT_H_
#define PATCHER_BOXES_CONSOLE_OUTPUT_H_

#include <cstdio>

#include "text/ansi_text.h"

namespace patcher {

/// Returns a stream whose bytes, in the ANSI code page of `text`, reach `out`
/// as UTF-8. Text in ASCII passes unchanged; a character cut between two
/// writes is held until its end comes. Each flush of the stream writes to
/// `out` and flushes it. Returns null when the stream cannot be made. Close
/// it with fclose before `text` and `out` go.
FILE* OpenUtf8Output(AnsiText* text, FILE* out);

}  // namespace patcher

#endif  // PATCHER_BOXES_CONSOLE_OUTPUT_H_
