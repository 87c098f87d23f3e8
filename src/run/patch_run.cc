// The patch run: banner, question, copy pass, boxes and exit status.

#include "run/patch_run.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "list/patch_list.h"
#include "run/check.h"
#include "version.h"

namespace patcher {

namespace {

const char kCopyErrorPrefix[] = "Could not copy file: ";

/// How many entries the copy pass reads ahead of the one it copies: as many
/// as the Linux platform writes ahead in one batch.
constexpr size_t kEntriesAhead = 256;

/// How many sources that do not open are named on standard error, one line
/// each; one more line counts the rest. A list of millions of missing names
/// would otherwise bury the first ones, which are the ones to fix.
constexpr unsigned long long kMissingNamed = 100;

/// An entry read ahead of the one being copied: its source, and its
/// destination path when the line names a destination.
struct PendingEntry {
  std::string source;
  bool has_dest = false;
  std::string dest_path;
};

const char* check_error_text(int result) {
  switch (result) {
    case CHECK_NO_INSTALL_DIR:
      return "Cannot determine installation directory";
    case CHECK_MISSING_FILES:
      return "Verification failed.  Missing required patching files.";
    case CHECK_LIST_CORRUPT:
      return "Verification failed.  Patching file corrupted.";
    default:
      return "Unknown Error occured.  Cannot continue.";
  }
}

/// Shows the copy-error box for `what` (a destination path, or a line that
/// names no destination). The text is held whole, however long `what` is.
void show_copy_error(Platform* platform, const char* what) {
  char text[sizeof kCopyErrorPrefix + 2 * kLineCapacity];
  snprintf(text, sizeof text, "%s%s", kCopyErrorPrefix, what);
  platform->ShowBox(text, "Error", kBoxOk);
}

/// Copies every entry of the list into `install_dir`. Returns 1 if any copy
/// failed or the list could not be opened again, else 0.
int copy_pass(Platform* platform, const char* install_dir, FILE* out) {
  std::unique_ptr<InputFile> file =
      platform->OpenForReading(kListName, nullptr);
  if (!file) {
    // It opened moments ago in the check; copying nothing now is a failure,
    // not a success.
    fprintf(stderr, "patcher: cannot open %s again\n", kListName);
    return 1;
  }
  ListReader list(std::move(file));
  char header[kLineCapacity];
  read_header(header, sizeof header, header, sizeof header, &list);

  fprintf(out, "Game Installed in: '%s'\n\n", install_dir);
  fflush(out);

  // Entries are read a few ahead of the one being copied, and their copies
  // announced, so that the platform can start on them early.
  std::deque<PendingEntry> ahead;
  bool more = true;
  int failed = 0;
  for (;;) {
    while (more && ahead.size() < kEntriesAhead) {
      char line[kLineCapacity];
      Entry entry;
      more = next_entry(&list, line, sizeof line, &entry);
      if (!more) break;
      PendingEntry next;
      next.source = entry.source;
      next.has_dest = entry.dest != nullptr;
      if (next.has_dest) {
        char dest_path[2 * kLineCapacity];
        snprintf(dest_path, sizeof dest_path, "%s\\%s", install_dir,
                 entry.dest);
        next.dest_path = dest_path;
        platform->AnnounceCopy(next.source.c_str(), dest_path);
      }
      ahead.push_back(std::move(next));
    }
    if (ahead.empty()) break;
    PendingEntry entry = std::move(ahead.front());
    ahead.pop_front();
    const char* source = entry.source.c_str();
    const char* dest_path = entry.dest_path.c_str();
    if (!entry.has_dest) {
      // A line without a comma names no destination: nothing to write.
      show_copy_error(platform, source);
      failed = 1;
      continue;
    }

    uint32_t attributes = platform->ReadAttributes(dest_path);
    if (attributes != kInvalidAttributes && (attributes & kAttributeReadOnly))
      platform->WriteAttributes(dest_path, attributes & ~kAttributeReadOnly);

    fprintf(out, "%s -> %s\n", source, dest_path);
    fflush(out);

    std::string error;
    if (!platform->CopyOver(source, dest_path, &error)) {
      fprintf(stderr, "patcher: %s\n", error.c_str());
      show_copy_error(platform, dest_path);
      failed = 1;
    }
  }
  return failed;
}

}  // namespace

int run_patch(Platform* platform, FILE* out) {
  fprintf(out,
          "Patcher " PATCHER_VERSION "\t\tNot made or supported by Quelvar\n");
  fprintf(out, "   Written by the patcher team\n");
  fflush(out);

  char message[kLineCapacity];
  char install_dir[kLineCapacity];
  // "Which file is missing?" is answered on standard error, as the check
  // finds them; the box's text stays as it is.
  unsigned long long missing = 0;
  int result =
      check_patch(platform, message, sizeof message, install_dir,
                  sizeof install_dir, [&missing](const std::string& error) {
                    if (++missing <= kMissingNamed)
                      fprintf(stderr, "patcher: %s\n", error.c_str());
                  });
  if (missing > kMissingNamed) {
    unsigned long long more = missing - kMissingNamed;
    fprintf(stderr, "patcher: %llu more source%s cannot be opened\n", more,
            more == 1 ? "" : "s");
  }
  if (result != CHECK_OK) {
    platform->ShowBox(check_error_text(result), "Error", kBoxOk);
    return -result;
  }

  // One run per game folder from here to the end: another may be copying
  // into it, or about to.
  platform->HoldInstallDir(install_dir);
  // Asked after the check, so that a patch that cannot be applied never asks
  // it, and before the confirmation, which stays the last word.
  if (!platform->ConfirmGameClosed()) return 0;
  expand_escapes(message, sizeof message);
  if (platform->ShowBox(message, "Warning", kBoxYesNo) != kAnswerYes) return 0;

  int failed = copy_pass(platform, install_dir, out);
  if (failed)
    platform->ShowBox("Patch failed.", "Failed", kBoxOk);
  else
    platform->ShowBox("Patch successful", "Success", kBoxOk);
  return failed;
}

}  // namespace patcher
