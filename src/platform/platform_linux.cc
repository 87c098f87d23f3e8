// The platform of a Linux host on which the game lives in a Wine or Proton
// prefix: HKEY_LOCAL_MACHINE is the prefix's system.reg, Windows paths are
// mapped into the prefix, and boxes are shown on the console, or as desktop
// dialogs when started without a terminal; with dialogs, a progress window
// shows how far the copies are.

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
#include "boxes/progress_window.h"
#include "platform/platform.h"
#include "wine/copier.h"
#include "wine/host_file.h"
#include "wine/host_path.h"
#include "wine/prefix.h"
#include "wine/registry.h"

namespace patcher {

namespace {

class LinuxPlatform : public Platform {
 public:
  LinuxPlatform(std::string prefix, DesktopDialogs dialogs)
      : prefix_(std::move(prefix)),
        dialogs_(std::move(dialogs)),
        progress_(dialogs_.program(), dialogs_.path()) {}

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    if (prefix_.empty()) return nullptr;
    std::string path = prefix_ + "/system.reg";
    return OpenWineKey([&path] { return OpenHostFile(path, nullptr); },
                       subkey);
  }

  int ShowBox(const char* text, const char* caption, BoxType type) override {
    fflush(stdout);
    progress_.Close();  // the next copy opens it again
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
    if (!progress_.enabled()) return CopyOne(source, dest, error);
    progress_.Show(std::string(source) + " -> " + dest, share_.Percent());
    bool copied = CopyOne(source, dest, error);
    share_.Done();
    progress_.SetPercent(share_.Percent());
    return copied;
  }

  void PlanCopy(const char* source) override {
    if (!progress_.enabled()) return;
    // The sizes are taken now, before the question: a source changed while
    // it is open only makes the share less exact.
    std::string host;
    struct stat st;
    bool known = MapToHost(prefix_, source, &host) &&
                 stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    share_.Plan(known ? st.st_size : -1);
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
  bool CopyOne(const char* source, const char* dest, std::string* error) {
    std::string host_source, host_dest;
    if (!MapToHost(prefix_, source, &host_source) ||
        !MapToHost(prefix_, dest, &host_dest)) {
      *error = UnmappableError(host_source.empty() ? source : dest);
      copier_.Skip();
      return false;
    }
    return copier_.Copy(host_source, host_dest, error);
  }

  static std::string UnmappableError(const char* path) {
    return std::string("map(") + path + "): not a path in the prefix";
  }

  std::string prefix_;
  DesktopDialogs dialogs_;
  ProgressWindow progress_;  // shown only when the boxes are dialogs
  CopyShare share_;          // planned only then, too
  HostCopier copier_;
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
  return std::make_unique<LinuxPlatform>(
      FindWinePrefix(getenv("WINEPREFIX"), getenv("STEAM_COMPAT_DATA_PATH"),
                     home),
      std::move(dialogs));
}

}  // namespace patcher
