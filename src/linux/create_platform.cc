// How the Linux program is put together: the locale's code page, the home
// folder, and the prefix to patch (named by the environment, else the one
// the game is found in, else ~/.wine).

#include <locale.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "boxes/desktop_dialog.h"
#include "game/install_dir.h"
#include "linux/linux_platform.h"
#include "linux/passwd.h"
#include "list/patch_list.h"
#include "platform/platform.h"
#include "posix/files.h"
#include "prefixes/discovery.h"
#include "prefixes/prefix.h"
#include "prefixes/prefix_search.h"
#include "text/ansi_text.h"
#include "text/locale_code_page.h"
#include "wine/host_file.h"
#include "wine/host_path.h"
#include "wine/prefix_tables.h"
#include "wine/registry.h"

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

/// Returns the home folder that /etc/passwd gives the user, or the empty
/// text. The file is read here rather than through getpwuid(), which in the
/// static release build would load the host's NSS modules (libnss_systemd
/// and the like), built for another C library than the one linked in.
std::string HomeFromEtcPasswd() {
  std::string text;
  if (!ReadSmallHostFile("/etc/passwd", 16 << 20, &text)) return std::string();
  return HomeFromPasswd(text, getuid());
}

/// Returns true when the game's installation directory, looked up in the
/// registry of the prefix at `prefix` as the run looks it up (`exe_name`
/// from the list), is a folder there; `*install_dir` is then set as the
/// registry stores it. Windows text in the prefix is in `code_page`.
bool LocateGame(const std::string& prefix, unsigned code_page,
                const char* exe_name, std::string* install_dir) {
  if (prefix.empty()) return false;
  AnsiText text(
      [&prefix, code_page] { return LoadCodePage(prefix, code_page); },
      [&prefix] { return LoadCaseTable(prefix); });
  WineLookupMemo memo;
  const std::string registry = prefix + "/system.reg";
  KeyOpener open_key = [&](const char* subkey) {
    return OpenWineKey([&registry] { return OpenHostFile(registry, nullptr); },
                       subkey, &text, &memo);
  };
  char dir[kLineCapacity];
  std::string host;
  struct stat st;
  if (!find_install_dir(open_key, exe_name, dir, sizeof dir) ||
      !MapToHost(prefix, &text, dir, &host) || stat(host.c_str(), &st) != 0 ||
      !S_ISDIR(st.st_mode))
    return false;
  *install_dir = dir;
  return true;
}

/// Looks for the game in the prefixes under `home` when none is named, as
/// the list's executable name lets the run's own lookup find it, and makes
/// `platform` patch the one that holds it (see ChoosePrefix). Without a
/// list whose header reads whole, looks nowhere: the check then fails
/// before any registry is read. Returns false when the user declined every
/// copy of the game.
bool FindGame(LinuxPlatform* platform, unsigned code_page,
              const std::string& home) {
  std::unique_ptr<InputFile> file =
      platform->OpenForReading(kListName, nullptr);
  if (!file) return true;
  ListReader list(std::move(file));
  char message[kLineCapacity];
  char exe_name[kLineCapacity];
  if (read_header(message, sizeof message, exe_name, sizeof exe_name, &list))
    return true;
  GameLocator locate = [code_page, &exe_name](const std::string& prefix,
                                              std::string* install_dir) {
    return LocateGame(prefix, code_page, exe_name, install_dir);
  };
  // On a desktop, where standard error goes unseen, the player is asked
  // for the prefix when it is found nowhere.
  FolderChooser choose_folder;
  if (platform->dialogs().program() != DialogProgram::kNone) {
    choose_folder = [platform, &home](const std::string& title,
                                      std::string* folder) {
      return platform->dialogs().ChooseFolder(title, home, folder);
    };
  }
  std::string chosen;
  if (!ChoosePrefix(FindPrefixCandidates(home, getenv("XDG_DATA_HOME"),
                                         getenv("XDG_CONFIG_HOME")),
                    locate, platform->prefix(), platform, platform->text(),
                    stderr, &chosen, choose_folder))
    return false;
  platform->SetPrefix(chosen);
  return true;
}

}  // namespace

std::unique_ptr<Platform> CreatePlatform() {
  // A reader of standard output that goes away must not end a patch half
  // applied: the lines stop, the copies go on (OpenConsoleOutput).
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
  // First, while a closed standard input is still closed: the first file
  // opened later would take its number.
  DesktopDialogs dialogs = DesktopDialogs::FromEnvironment();
  std::string home;
  if (const char* env_home = getenv("HOME")) home = env_home;
  if (home.empty()) home = HomeFromEtcPasswd();
  // A prefix named wins; otherwise the game is looked for, ~/.wine staying
  // the one to use when it is nowhere.
  std::string named = FindWinePrefix(getenv("WINEPREFIX"),
                                     getenv("STEAM_COMPAT_DATA_PATH"), nullptr);
  unsigned code_page = AnsiCodePageOfEnvironment();
  auto platform = std::make_unique<LinuxPlatform>(
      named.empty() ? FindWinePrefix(nullptr, nullptr, home.c_str()) : named,
      code_page,
      LocaleIsUtf8(getenv("LC_ALL"), getenv("LC_CTYPE"), getenv("LANG")),
      std::move(dialogs));
  if (named.empty() && !home.empty() &&
      !FindGame(platform.get(), code_page, home))
    return nullptr;
  return platform;
}

}  // namespace patcher
