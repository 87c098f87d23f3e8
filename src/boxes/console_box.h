// Boxes on the console, for the Linux build run from a terminal or a script.

#ifndef PATCHER_BOXES_CONSOLE_BOX_H_
#define PATCHER_BOXES_CONSOLE_BOX_H_

#include <cstdio>

#include "platform/platform.h"

namespace patcher {

/// Shows a box on the console: its caption on a line of its own, then its
/// text as it stands, on `out`. A Yes/No box then prompts "[y/N] " and reads
/// one line from `in`: "y" or "yes" in any case returns kAnswerYes; anything
/// else, an empty line or the end of input returns kAnswerNo. An OK box
/// returns kAnswerOk at once.
int ConsoleBox(const char* text, const char* caption, BoxType type, FILE* in,
               FILE* out);

}  // namespace patcher

#endif  // PATCHER_BOXES_CONSOLE_BOX_H_
