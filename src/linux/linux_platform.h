// The platform of a Linux host on which the game lives in a Wine or Proton
// prefix: HKEY_LOCAL_MACHINE is the prefix's system.reg, Windows paths are
// mapped into the prefix, and boxes are shown on the console, or as desktop
// dialogs when started without a terminal; with dialogs, a progress window
// shows how far the copies are.

#ifndef PATCHER_LINUX_LINUX_PLATFORM_H_
#define PATCHER_LINUX_LINUX_PLATFORM_H_

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "boxes/desktop_dialog.h"
#include "boxes/progress_window.h"
#include "platform/platform.h"
#include "posix/folder_lock.h"
#include "text/ansi_text.h"
#include "wine/copier.h"
#include "wine/copy.h"
#include "wine/host_path.h"
#include "wine/registry.h"

namespace patcher {

/// The Platform over one Wine prefix, seen from Linux. From the first copy
/// on, SIGINT, SIGTERM and SIGHUP are held while a file is being replaced
/// and end the run between files (CatchStopSignals); the run's lines go to
/// a standard output whose reader may go away (OpenConsoleOutput); SIGPIPE
/// must be ignored.
class LinuxPlatform : public Platform {
 public:
  /// The platform of the prefix at `prefix` (none when empty: no key opens),
  /// whose programs use the ANSI code page `code_page`. `utf8_console`:
  /// whether the console shows UTF-8; otherwise it gets the ANSI bytes as
  /// they are. Boxes are shown with `dialogs` where it shows them.
  LinuxPlatform(std::string prefix, unsigned code_page, bool utf8_console,
                DesktopDialogs dialogs);
  ~LinuxPlatform() override;
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  /// Makes `prefix` the prefix patched, before the run starts.
  void SetPrefix(const std::string& prefix);
  const std::string& prefix() const { return prefix_; }
  /// How boxes are shown as desktop dialogs, if they are.
  const DesktopDialogs& dialogs() const { return dialogs_; }
  /// The text of Windows programs in the prefix, in its ANSI code page.
  AnsiText* text() { return &text_; }

  FILE* StandardOutput() override { return out_; }
  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override;
  int ShowBox(const char* text, const char* caption, BoxType type) override;
  uint32_t ReadAttributes(const char* path) override;
  bool WriteAttributes(const char* path, uint32_t attributes) override;
  std::unique_ptr<InputFile> OpenForReading(const char* path,
                                            std::string* error) override;
  bool CopyOver(const char* source, const char* dest,
                std::string* error) override;
  void PlanCopy(const char* source) override;
  void HoldInstallDir(const char* install_dir) override;
  bool ConfirmGameClosed() override;
  void AnnounceCopy(const char* source, const char* dest) override;

 private:
  bool CopyOne(const char* source, const char* dest, std::string* error);

  /// Returns `ansi` as the console shows text.
  std::string ConsoleText(const char* ansi);

  /// The error texts of this platform are UTF-8, like the host paths they
  /// name.
  std::string UnmappableError(const char* path);

  std::string prefix_;
  DesktopDialogs dialogs_;
  AnsiText text_;  // the text of Windows programs, in the ANSI code page
  bool utf8_console_;
  FILE* out_ = nullptr;      // the run's lines, for the console
  ProgressWindow progress_;  // shown only when the boxes are dialogs
  CopyShare share_;          // planned only then, too
  HostPaths paths_;          // the run's Windows paths on the host
  HostCopier copier_;
  // Held from the check to the end of the run, when the file system allows:
  // no other run copies into the game's folder meanwhile.
  FolderLock install_lock_;
  size_t planned_ = 0;  // copies the check planned
  size_t copied_ = 0;   // copies made or failed
  // The last destination ReadAttributes looked at, for the CopyOver after.
  bool look_valid_ = false;
  std::string look_host_;
  DestLook look_;
  // The lookups of one run share what they learn of system.reg: the keys it
  // does not hold. Wine rewrites the file every 30 s at the most; a run's
  // lookups take moments.
  WineLookupMemo registry_memo_;
};

}  // namespace patcher

#endif  // PATCHER_LINUX_LINUX_PLATFORM_H_
