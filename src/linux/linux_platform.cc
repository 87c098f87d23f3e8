// The Linux platform: one Wine prefix seen from the host.

#include "linux/linux_platform.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "boxes/console_box.h"
#include "boxes/console_output.h"
#include "posix/stop_signals.h"
#include "prefixes/discovery.h"
#include "prefixes/wineserver.h"
#include "wine/host_file.h"
#include "wine/prefix_tables.h"

namespace patcher {

LinuxPlatform::LinuxPlatform(std::string prefix, unsigned code_page,
                             bool utf8_console, DesktopDialogs dialogs)
    : prefix_(std::move(prefix)),
      dialogs_(std::move(dialogs)),
      text_([this, code_page] { return LoadCodePage(prefix_, code_page); },
            [this] { return LoadCaseTable(prefix_); }),
      utf8_console_(utf8_console),
      progress_(dialogs_.program(), dialogs_.path()),
      paths_(prefix_, &text_),
      copier_(&paths_) {
  // Leftovers are removed only under the lock on the game's folder.
  copier_.set_remove_leftovers(false);
  out_ = OpenConsoleOutput(utf8_console_ ? &text_ : nullptr, stdout, stderr);
  if (out_ == nullptr) out_ = stdout;
}

LinuxPlatform::~LinuxPlatform() {
  if (out_ != stdout) fclose(out_);
}

void LinuxPlatform::SetPrefix(const std::string& prefix) {
  prefix_ = prefix;
  paths_.SetPrefix(prefix_);
}

std::unique_ptr<RegistryKey> LinuxPlatform::OpenKey(const char* subkey) {
  if (prefix_.empty()) return nullptr;
  std::string path = prefix_ + "/system.reg";
  return OpenWineKey([&path] { return OpenHostFile(path, nullptr); }, subkey,
                     &text_, &registry_memo_);
}

int LinuxPlatform::ShowBox(const char* text, const char* caption,
                           BoxType type) {
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

uint32_t LinuxPlatform::ReadAttributes(const char* path) {
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

bool LinuxPlatform::WriteAttributes(const char* path, uint32_t attributes) {
  look_valid_ = false;
  std::string host, error;
  return paths_.Map(path, &host) && SetHostAttributes(host, attributes, &error);
}

std::unique_ptr<InputFile> LinuxPlatform::OpenForReading(const char* path,
                                                         std::string* error) {
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

bool LinuxPlatform::CopyOver(const char* source, const char* dest,
                             std::string* error) {
  // A stop signal waits until this file is whole, old or new, and ends the
  // run before the next one.
  CatchStopSignals();
  HoldStops();
  bool copied;
  if (!progress_.enabled()) {
    copied = CopyOne(source, dest, error);
  } else {
    progress_.Show(text_.ToUtf8(std::string(source) + " -> " + dest),
                   share_.Percent());
    copied = CopyOne(source, dest, error);
    share_.Done();
    progress_.SetPercent(share_.Percent());
  }
  SetStopProgress(++copied_, planned_);
  ReleaseStops();
  return copied;
}

void LinuxPlatform::PlanCopy(const char* source) {
  ++planned_;
  if (!progress_.enabled()) return;
  // The sizes are taken now, before the question: a source changed while
  // it is open only makes the share less exact.
  std::string host;
  struct stat st;
  bool known = paths_.Map(source, &host) && stat(host.c_str(), &st) == 0 &&
               S_ISREG(st.st_mode);
  share_.Plan(known ? st.st_size : -1);
}

void LinuxPlatform::HoldInstallDir(const char* install_dir) {
  std::string host, error;
  if (!paths_.Map(install_dir, &host)) return;
  FolderLock::Result result = install_lock_.Take(
      host,
      [&host] {
        fprintf(stderr,
                "patcher: another patch run is using %s; waiting for it to "
                "end\n",
                host.c_str());
      },
      &error);
  // A file system that refuses the lock (a network one) is patched without:
  // leftovers there may be another run's temporaries in flight, and stay.
  copier_.set_remove_leftovers(result == FolderLock::kHeld);
}

bool LinuxPlatform::ConfirmGameClosed() {
  return ConfirmPrefixIdle(prefix_, WineserverRuns, this, &text_);
}

void LinuxPlatform::AnnounceCopy(const char* source, const char* dest) {
  // Killed from here on, the run leaves what it wrote ahead unseen; its
  // stop line says how far it came.
  SetStopProgress(copied_, planned_);
  CatchStopSignals();
  std::string host_source, host_dest;
  // A path that cannot be mapped is announced as none; CopyOver reports it.
  if (!paths_.Map(source, &host_source) || !paths_.Map(dest, &host_dest)) {
    host_source.clear();
    host_dest.clear();
  }
  copier_.Announce(host_source, host_dest);
}

bool LinuxPlatform::CopyOne(const char* source, const char* dest,
                            std::string* error) {
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

std::string LinuxPlatform::ConsoleText(const char* ansi) {
  return utf8_console_ ? text_.ToUtf8(ansi) : std::string(ansi);
}

std::string LinuxPlatform::UnmappableError(const char* path) {
  return "map(" + text_.ToUtf8(path) + "): not a path in the prefix";
}

}  // namespace patcher
