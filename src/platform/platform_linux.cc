// The platform of a Linux host on which the game lives in a Wine or Proton
// prefix: HKEY_LOCAL_MACHINE is the prefix's system.reg, Windows paths are
// mapped into the prefix, and boxes are shown on the console, or as desktop
// dialogs when started without a terminal; with dialogs, a progress window
// shows how far the copies are. When no prefix is named, the prefix is the
// one the game is found in, found before the run starts.

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "boxes/console_box.h"
#include "boxes/console_output.h"
#include "boxes/desktop_dialog.h"
#include "boxes/progress_window.h"
#include "list/patch_list.h"
#include "platform/platform.h"
#include "run/check.h"
#include "text/ansi_text.h"
#include "text/locale_code_page.h"
#include "wine/copier.h"
#include "wine/discovery.h"
#include "wine/host_file.h"
#include "wine/host_path.h"
#include "wine/prefix.h"
#include "wine/prefix_search.h"
#include "wine/prefix_tables.h"
#include "wine/registry.h"
#include "wine/wineserver.h"

namespace patcher {

namespace {

/// Returns the ANSI code page Wine would use in this process's locale. Wine
/// takes the locale as setlocale(LC_ALL, "") does: a locale that is not
/// installed leaves the C locale, so 1252. Only the character type's
/// locale is tried: loading all of them costs some 80 system calls.
unsigned AnsiCodePageOfEnvironment() {
  locale_t installed = newlocale(LC_CTYPE_MASK, "", nullptr);
  if (installed == nullptr) return 1252;
  freelocale(installed);
  return AnsiCodePageOfLocale(
      CtypeLocaleName(getenv("LC_ALL"), getenv("LC_CTYPE"), getenv("LANG")));
}

class LinuxPlatform : public Platform {
 public:
  /// `utf8_console`: whether the console shows UTF-8; otherwise it gets
  /// the ANSI bytes as they are.
  LinuxPlatform(std::string prefix, unsigned code_page, bool utf8_console,
                DesktopDialogs dialogs)
      : prefix_(std::move(prefix)),
        code_page_(code_page),
        dialogs_(std::move(dialogs)),
        text_([this, code_page] { return LoadCodePage(prefix_, code_page); },
              [this] { return LoadCaseTable(prefix_); }),
        utf8_console_(utf8_console),
        progress_(dialogs_.program(), dialogs_.path()),
        paths_(prefix_, &text_),
        copier_(&paths_) {
    if (utf8_console_) out_ = OpenUtf8Output(&text_, stdout);
    if (out_ == nullptr) out_ = stdout;
  }
  ~LinuxPlatform() override {
    if (out_ != stdout) fclose(out_);
  }
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  FILE* StandardOutput() override { return out_; }

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    if (prefix_.empty()) return nullptr;
    std::string path = prefix_ + "/system.reg";
    return OpenWineKey([&path] { return OpenHostFile(path, nullptr); }, subkey,
                       &text_, &registry_memo_);
  }

  int ShowBox(const char* text, const char* caption, BoxType type) override {
    // The user may take their time: what the run knows of the folders is
    // read anew after the box.
    paths_.Forget();
    copier_.ForgetDirs();
    look_valid_ = false;
    fflush(out_);
    progress_.Close();  // the next copy opens it again
    int answer;
    if (dialogs_.program() != DialogProgram::kNone &&
        dialogs_.Show(text_.ToUtf8(text).c_str(), text_.ToUtf8(caption).c_str(),
                      type, &answer)) {
      return answer;
    }
    return ConsoleBox(ConsoleText(text).c_str(), ConsoleText(caption).c_str(),
                      type, stdin, stderr);
  }

  uint32_t ReadAttributes(const char* path) override {
    look_valid_ = false;
    std::string host;
    if (!paths_.Map(path, &host)) return kInvalidAttributes;
    struct stat st;
    bool exists = lstat(host.c_str(), &st) == 0;
    // The copy that follows takes this look at its destination rather than
    // looking again: one lstat less per file.
    if (exists || errno == ENOENT) {
      look_valid_ = true;
      look_host_ = host;
      look_.exists = exists;
      if (exists) look_.st = st;
    }
    return exists ? AttributesOf(host, st) : kInvalidAttributes;
  }

  bool WriteAttributes(const char* path, uint32_t attributes) override {
    look_valid_ = false;
    std::string host, error;
    return paths_.Map(path, &host) &&
           SetHostAttributes(host, attributes, &error);
  }

  std::unique_ptr<InputFile> OpenForReading(const char* path,
                                            std::string* error) override {
    std::string host;
    unsigned char type;
    if (!paths_.Map(path, &host, &type)) {
      if (error) *error = UnmappableError(path);
      return nullptr;
    }
    // The listing just read tells a regular file: no fstat to refuse a
    // directory, one call less for each file the check opens.
    return OpenHostFile(host, error, type == DT_REG);
  }

  bool CopyOver(const char* source, const char* dest,
                std::string* error) override {
    if (!progress_.enabled()) return CopyOne(source, dest, error);
    progress_.Show(text_.ToUtf8(std::string(source) + " -> " + dest),
                   share_.Percent());
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
    bool known = paths_.Map(source, &host) && stat(host.c_str(), &st) == 0 &&
                 S_ISREG(st.st_mode);
    share_.Plan(known ? st.st_size : -1);
  }

  bool ConfirmGameClosed() override {
    return ConfirmPrefixIdle(prefix_, WineserverRuns, this, &text_);
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
    GameLocator locate = [this, &exe_name](const std::string& prefix,
                                           std::string* install_dir) {
      LinuxPlatform platform(prefix, code_page_, false,
                             DesktopDialogs(DialogProgram::kNone, ""));
      char dir[kLineCapacity];
      std::string host;
      struct stat st;
      if (!find_install_dir(&platform, exe_name, dir, sizeof dir) ||
          !MapToHost(prefix, &platform.text_, dir, &host) ||
          stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
      *install_dir = dir;
      return true;
    };
    if (!ChoosePrefix(FindPrefixCandidates(home, xdg_data_home), locate,
                      prefix_, this, &text_, stderr, &prefix_))
      return false;
    paths_.SetPrefix(prefix_);
    return true;
  }

  void AnnounceCopy(const char* source, const char* dest) override {
    std::string host_source, host_dest;
    // A path that cannot be mapped is announced as none; CopyOver reports it.
    if (!paths_.Map(source, &host_source) || !paths_.Map(dest, &host_dest)) {
      host_source.clear();
      host_dest.clear();
    }
    copier_.Announce(host_source, host_dest);
  }

 private:
  bool CopyOne(const char* source, const char* dest, std::string* error) {
    std::string host_source, host_dest;
    if (!paths_.Map(source, &host_source) || !paths_.Map(dest, &host_dest)) {
      *error = UnmappableError(host_source.empty() ? source : dest);
      look_valid_ = false;
      copier_.Skip();
      return false;
    }
    const DestLook* look =
        look_valid_ && look_host_ == host_dest ? &look_ : nullptr;
    bool copied = copier_.Copy(host_source, host_dest, error, look);
    look_valid_ = false;
    for (const std::string& note : copier_.TakeNotes())
      fprintf(stderr, "patcher: %s\n", note.c_str());
    return copied;
  }

  /// Returns `ansi` as the console shows text.
  std::string ConsoleText(const char* ansi) {
    return utf8_console_ ? text_.ToUtf8(ansi) : std::string(ansi);
  }

  /// The error texts of this platform are UTF-8, like the host paths they
  /// name.
  std::string UnmappableError(const char* path) {
    return "map(" + text_.ToUtf8(path) + "): not a path in the prefix";
  }

  std::string prefix_;
  unsigned code_page_;  // the ANSI code page, whose table comes from prefix_
  DesktopDialogs dialogs_;
  AnsiText text_;  // the text of Windows programs, in the ANSI code page
  bool utf8_console_;
  FILE* out_ = nullptr;      // the run's lines, for the console
  ProgressWindow progress_;  // shown only when the boxes are dialogs
  CopyShare share_;          // planned only then, too
  HostPaths paths_;          // the run's Windows paths on the host
  HostCopier copier_;
  // The last destination ReadAttributes looked at, for the CopyOver after.
  bool look_valid_ = false;
  std::string look_host_;
  DestLook look_;
  // The lookups of one run share what they learn of system.reg: the keys it
  // does not hold. Wine rewrites the file every 30 s at the most; a run's
  // lookups take moments.
  WineLookupMemo registry_memo_;
};

/// Returns the home folder that /etc/passwd gives the user, or the empty
/// text. The file is read here rather than through getpwuid(), which in the
/// static release build would load the host's NSS modules (libnss_systemd
/// and the like), built for another C library than the one linked in.
std::string HomeFromEtcPasswd() {
  std::string text;
  if (!ReadSmallHostFile("/etc/passwd", 16 << 20, &text)) return std::string();
  return HomeFromPasswd(text, getuid());
}

}  // namespace

std::unique_ptr<Platform> CreatePlatform() {
  // First, while a closed standard input is still closed: the first file
  // opened later would take its number.
  DesktopDialogs dialogs = DesktopDialogs::FromEnvironment();
  std::string home;
  if (const char* env_home = getenv("HOME")) home = env_home;
  if (home.empty()) home = HomeFromEtcPasswd();
  const char* wineprefix = getenv("WINEPREFIX");
  const char* steam_compat = getenv("STEAM_COMPAT_DATA_PATH");
  auto platform = std::make_unique<LinuxPlatform>(
      FindWinePrefix(wineprefix, steam_compat, home.c_str()),
      AnsiCodePageOfEnvironment(),
      LocaleIsUtf8(getenv("LC_ALL"), getenv("LC_CTYPE"), getenv("LANG")),
      std::move(dialogs));
  // A prefix named wins; otherwise the game is looked for, ~/.wine staying
  // the one to use when it is nowhere.
  bool named = !FindWinePrefix(wineprefix, steam_compat, nullptr).empty();
  if (!named && !home.empty() &&
      !platform->FindGame(home, getenv("XDG_DATA_HOME")))
    return nullptr;
  return platform;
}

}  // namespace patcher
