// The platform of a Linux (or other POSIX) host on which the game lives in a
// Wine or Proton prefix: HKEY_LOCAL_MACHINE is the prefix's system.reg,
// Windows paths are mapped into the prefix, and boxes are shown on the
// console, or as desktop dialogs when started without a terminal.

#include "platform/platform_posix.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "platform/desktop_dialog.h"
#include "platform/platform.h"
#include "platform/posix_files.h"
#include "platform/wine_registry.h"

namespace patcher {

std::string FindWinePrefix(const char* wineprefix, const char* steam_compat,
                           const char* home) {
  if (wineprefix && *wineprefix) return wineprefix;
  if (steam_compat && *steam_compat) return std::string(steam_compat) + "/pfx";
  if (home && *home) return std::string(home) + "/.wine";
  return std::string();
}

int ConsoleBox(const char* text, const char* caption, BoxType type, FILE* in,
               FILE* out) {
  fprintf(out, "%s\n%s\n", caption, text);
  if (type != kBoxYesNo) {
    fflush(out);
    return 1;  // IDOK
  }
  fprintf(out, "[y/N] ");
  fflush(out);
  char answer[64];
  bool got = fgets(answer, sizeof answer, in) != nullptr;
  // A terminal echoes the answer and its line end; piped input does not.
  if (!got || !isatty(fileno(in))) fprintf(out, "\n");
  if (!got) return 7;  // IDNO
  size_t len = strlen(answer);
  if (len > 0 && answer[len - 1] != '\n') {
    // Too long to be a yes: drop the rest of the line, so that it is not
    // taken for the answer to a later question.
    int c;
    while ((c = fgetc(in)) != EOF && c != '\n') {
    }
  }
  answer[strcspn(answer, "\r\n")] = '\0';
  for (char* p = answer; *p; ++p)
    *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  return strcmp(answer, "y") == 0 || strcmp(answer, "yes") == 0 ? kAnswerYes
                                                                : 7;
}

namespace {

class PosixPlatform : public Platform {
 public:
  PosixPlatform(std::string prefix, DesktopDialogs dialogs)
      : prefix_(std::move(prefix)), dialogs_(std::move(dialogs)) {}

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    if (prefix_.empty()) return nullptr;
    std::string path = prefix_ + "/system.reg";
    return OpenWineKey([&path] { return OpenHostFile(path); }, subkey);
  }

  int ShowBox(const char* text, const char* caption, BoxType type) override {
    fflush(stdout);
    int answer;
    if (dialogs_.Show(text, caption, type, &answer)) return answer;
    return ConsoleBox(text, caption, type, stdin, stderr);
  }

  uint32_t ReadAttributes(const char* path) override {
    std::string host;
    if (!MapToHost(prefix_, path, &host)) return kInvalidAttributes;
    return HostAttributes(host);
  }

  bool WriteAttributes(const char* path, uint32_t attributes) override {
    std::string host, error;
    return MapToHost(prefix_, path, &host) &&
           SetHostAttributes(host, attributes, &error);
  }

  std::unique_ptr<InputFile> OpenForReading(const char* path) override {
    std::string host;
    if (!MapToHost(prefix_, path, &host)) return nullptr;
    return OpenHostFile(host);
  }

  bool CopyOver(const char* source, const char* dest,
                std::string* error) override {
    bool announced = !announced_.empty() &&
                     announced_.front().first == source &&
                     announced_.front().second == dest;
    if (announced) announced_.pop_front();
    std::string host_source, host_dest;
    bool mapped = true;
    if (!MapToHost(prefix_, source, &host_source)) {
      *error = std::string("map(") + source + "): not a path in the prefix";
      mapped = false;
    } else if (!MapToHost(prefix_, dest, &host_dest)) {
      *error = std::string("map(") + dest + "): not a path in the prefix";
      mapped = false;
    }
    if (!mapped) {
      if (announced) copier_.Forget();
      return false;
    }
    return copier_.Copy(host_source, host_dest, announced, error);
  }

  void AnnounceCopy(const char* source, const char* dest) override {
    announced_.emplace_back(source, dest);
    std::string host_source, host_dest;
    // A path that cannot be mapped is announced as none; CopyOver reports it.
    if (!MapToHost(prefix_, source, &host_source) ||
        !MapToHost(prefix_, dest, &host_dest)) {
      host_source.clear();
      host_dest.clear();
    }
    copier_.Announce(host_source, host_dest);
  }

 private:
  std::string prefix_;
  DesktopDialogs dialogs_;
  HostCopier copier_;
  // Announced copies not yet made, as CopyOver will name them.
  std::deque<std::pair<std::string, std::string>> announced_;
};

}  // namespace

std::unique_ptr<Platform> CreatePlatform() {
  // First, while a closed standard input is still closed: the first file
  // opened later would take its number.
  DesktopDialogs dialogs = DesktopDialogs::FromEnvironment();
  const char* home = getenv("HOME");
  if (!home || !*home) {
    const passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  return std::unique_ptr<Platform>(
      new PosixPlatform(FindWinePrefix(getenv("WINEPREFIX"),
                                       getenv("STEAM_COMPAT_DATA_PATH"), home),
                        std::move(dialogs)));
}

}  // namespace patcher
