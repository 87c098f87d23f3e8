// Boxes on the console: the caption and text on standard error, a Yes/No answer
// read from standard input.

#include "boxes/console_box.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "text/text.h"

namespace patcher {

int ConsoleBox(const char* text, const char* caption, BoxType type, FILE* in,
               FILE* out) {
  fprintf(out, "%s\n%s\n", caption, text);
  if (type != kBoxYesNo) {
    fflush(out);
    return kAnswerOk;
  }
  fprintf(out, "[y/N] ");
  fflush(out);
  char answer[64];
  bool got = fgets(answer, sizeof answer, in) != nullptr;
  // A terminal echoes the answer and its line end; piped input does not.
  if (!got || !isatty(fileno(in))) fprintf(out, "\n");
  if (!got) return kAnswerNo;
  size_t len = strlen(answer);
  if (len > 0 && answer[len - 1] != '\n') {
    // Too long to be a yes: drop the rest of the line, so that it is not
    // taken for the answer to a later question.
    int c;
    while ((c = fgetc(in)) != EOF && c != '\n') {
    }
  }
  answer[strcspn(answer, "\r\n")] = '\0';
  std::string word = ToLowerAscii(answer);
  return word == "y" || word == "yes" ? kAnswerYes : kAnswerNo;
}

}  // namespace patcher
