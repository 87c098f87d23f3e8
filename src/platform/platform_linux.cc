// The platform of a Linux host on which the game lives in a Wine or Proton
// prefix: HKEY_LOCAL_MACHINE is the prefix's system.reg, Windows paths are
// mapped into the prefix, and boxes are shown on the console, or as desktop
// dialogs when started without a terminal. When no prefix is named, the
// prefix is the one the game is found in, found before the run starts.

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "boxes/console_box.h"
#include "boxes/desktop_dialog.h"
#include "list/patch_list.h"
#include "platform/platform.h"
#include "run/check.h"
#include "wine/copier.h"
#include "wine/discovery.h"
#include "wine/host_file.h"
#include "wine/host_path.h"
#include "wine/prefix.h"
#include "wine/prefix_search.h"
#include "wine/registry.h"
#include "wine/wineserver.h"

namespace patcher {

namespace {

class LinuxPlatform : public Platform {
 public:
  LinuxPlatform(std::string prefix, DesktopDialogs dialogs)
      : prefix_(std::move(prefix)), dialogs_(std::move(dialogs)) {}

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    if (prefix_.empty()) return nullptr;
    std::string path = prefix_ + "/system.reg";
    return OpenWineKey([&path] { return OpenHostFile(path, nullptr); },
                       subkey, &registry_memo_);
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

  std::unique_ptr<InputFile> OpenForReading(const char* path,
                                            std::string* error) override {
    std::string host;
    if (!MapToHost(prefix_, path, &host)) {
      if (error) *error = UnmappableError(path);
      return nullptr;
    }
    return OpenHostFile(host, error);
  }

  bool CopyOver(const char* source, const char* dest,
                std::string* error) override {
    std::string host_source, host_dest;
    if (!MapToHost(prefix_, source, &host_source) ||
        !MapToHost(prefix_, dest, &host_dest)) {
      *error = UnmappableError(host_source.empty() ? source : dest);
      copier_.Skip();
      return false;
    }
    return copier_.Copy(host_source, host_dest, error);
  }

  bool ConfirmGameClosed() override {
    return ConfirmPrefixIdle(prefix_, WineserverRuns, this);
  }

  /// Looks for the game in the prefixes under `home` when none is named, as
  /// the list's executable name lets the run's own lookup find it, and takes
  /// the one that holds it (see ChoosePrefix). Without a list whose header
  /// reads whole, looks nowhere: the check then fails before any registry
  /// is read. Returns false when the user declined every copy of the game.
  bool FindGame(const std::string& home, const char* xdg_data_home) {
    std::unique_ptr<InputFile> file = OpenForReading(kListName, nullptr);
    if (!file) return true;
    ListReader list(std::move(file));
    char message[kLineCapacity];
    char exe_name[kLineCapacity];
    if (read_header(message, sizeof message, exe_name, sizeof exe_name, &list))
      return true;
    GameLocator locate = [&exe_name](const std::string& prefix,
                                     std::string* install_dir) {
      LinuxPlatform platform(prefix, DesktopDialogs(DialogProgram::kNone, ""));
      char dir[kLineCapacity];
      std::string host;
      struct stat st;
      if (!find_install_dir(&platform, exe_name, dir, sizeof dir) ||
          !MapToHost(prefix, dir, &host) || stat(host.c_str(), &st) != 0 ||
          !S_ISDIR(st.st_mode))
        return false;
      *install_dir = dir;
      return true;
    };
    return ChoosePrefix(FindPrefixCandidates(home, xdg_data_home), locate,
                        prefix_, this, stderr, &prefix_);
  }

  void AnnounceCopy(const char* source, const char* dest) override {
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
  static std::string UnmappableError(const char* path) {
    return std::string("map(") + path + "): not a path in the prefix";
  }

  std::string prefix_;
  DesktopDialogs dialogs_;
  HostCopier copier_;
  // The lookups of one run share what they learn of system.reg: the keys it
  // does not hold. Wine rewrites the file every 30 s at the most; a run's
  // lookups take moments.
  WineLookupMemo registry_memo_;
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
  const char* wineprefix = getenv("WINEPREFIX");
  const char* steam_compat = getenv("STEAM_COMPAT_DATA_PATH");
  auto platform = std::make_unique<LinuxPlatform>(
      FindWinePrefix(wineprefix, steam_compat, home), std::move(dialogs));
  // A prefix named wins; otherwise the game is looked for, ~/.wine staying
  // the one to use when it is nowhere.
  bool named = !FindWinePrefix(wineprefix, steam_compat, nullptr).empty();
  if (!named && home && *home &&
      !platform->FindGame(home, getenv("XDG_DATA_HOME")))
    return nullptr;
  return platform;
}

}  // namespace patcher
