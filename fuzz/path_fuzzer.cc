// Feeds arbitrary bytes as a Windows path in Windows-1252 to the parser and
// to the mapping into a small prefix made for the run, and checks that a
// mapped path stays where the Windows path points: one host name per Windows
// name, each equal to it but for case, below the drive's directory.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"
#include "text/ansi_text.h"
#include "text/text.h"
#include "wine/host_path.h"
#include "wine/windows_path.h"

namespace patcher {
namespace {

std::string g_root;    // removed at exit
std::string g_prefix;  // g_root/prefix
std::string g_cwd;     // the working directory, left as it is: libFuzzer
                       // writes to the directories it was given

void Run(const std::string& command) {
  if (system(command.c_str()) != 0) {
    fprintf(stderr, "failed: %s\n", command.c_str());
    abort();
  }
}

void RemoveRoot() { Run("rm -rf '" + g_root + "'"); }

bool IsForbidden(char c) {
  return static_cast<unsigned char>(c) < 0x20 || strchr("<>:\"|?*\\/", c);
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('/', pos);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

}  // namespace
}  // namespace patcher

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace patcher;
  char root[] = "/tmp/patcher-path-fuzz-XXXXXX";
  if (!mkdtemp(root)) abort();
  g_root = root;
  g_prefix = g_root + "/prefix";
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) abort();
  g_cwd = cwd;
  atexit(RemoveRoot);
  std::string game = g_prefix + "/drive_c/Games/Torvane 2000";
  Run("mkdir -p '" + game + "/Data/Sub' '" + game + "/DATA2' '" + g_prefix +
      "/dosdevices'");
  Run("ln -s ../drive_c '" + g_prefix + "/dosdevices/c:'");
  Run("touch '" + game + "/Data/maps.mix' '" + game + "/game.dat'");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace patcher;
  static AnsiText* text =
      new AnsiText([] { return CodePage::Windows1252(); },
                   [] { return CaseTable::FromCLibrary(); });
  std::string path(reinterpret_cast<const char*>(data), size);

  // The bytes are Windows-1252; MAX_PATH counts UTF-16 units.
  std::string utf8 = text->ToUtf8(path);
  WindowsPath parsed;
  bool ok = size < 260 && ParseWindowsPath(utf8, &parsed);
  std::string host;
  bool mapped = MapToHost(g_prefix, text, path, &host);
  // The working directory lies on no drive of the prefix (it has only C:):
  // a rooted path without a drive starts nowhere.
  FUZZ_CHECK(mapped == (ok && (parsed.drive || !parsed.rooted)));
  if (!ok) return 0;

  FUZZ_CHECK(parsed.drive == 0 || (parsed.drive >= 'A' && parsed.drive <= 'Z'));
  bool leading = true;
  for (size_t i = 0; i < parsed.components.size(); ++i) {
    const std::string& name = parsed.components[i];
    FUZZ_CHECK(!name.empty() && name != ".");
    if (name == "..") {
      // Only a path that is not rooted keeps them, and only at its start.
      FUZZ_CHECK(!parsed.rooted && leading);
      continue;
    }
    leading = false;
    for (char c : name) FUZZ_CHECK(!IsForbidden(c));
  }
  // The last name keeps no trailing dot or blank unless the path ends in a
  // separator.
  bool keeps_dots = !parsed.components.empty() &&
                    parsed.components.back() != ".." &&
                    strchr(". ", parsed.components.back().back()) != nullptr;
  FUZZ_CHECK(!keeps_dots || parsed.trailing_separator);

  // The names written back with backslashes parse to themselves.
  std::string again = parsed.drive ? std::string(1, parsed.drive) + ":" : "";
  if (parsed.rooted) again += "\\";
  for (size_t i = 0; i < parsed.components.size(); ++i) {
    if (i > 0) again += "\\";
    again += parsed.components[i];
  }
  if (parsed.trailing_separator && !parsed.components.empty()) again += "\\";
  WindowsPath reparsed;
  if (!parsed.components.empty()) {
    FUZZ_CHECK(ParseWindowsPath(again, &reparsed));
    FUZZ_CHECK(reparsed.components == parsed.components);
    FUZZ_CHECK(reparsed.drive == parsed.drive);
    FUZZ_CHECK(reparsed.rooted == parsed.rooted);
  }
  if (!mapped) return 0;

  // The host path: the base, then one name per component, equal but for
  // case, and a final '/' exactly when the path ends in a separator. On a
  // drive, `..` climbs no higher than its root; the working directory is
  // not on C:, so `C:x` starts at C:'s root.
  std::string base = g_cwd;
  std::vector<std::string> want = parsed.components;
  if (parsed.drive) {
    base = g_prefix + "/dosdevices/" + ToLowerAscii(parsed.drive) + ":";
    while (!want.empty() && want[0] == "..") want.erase(want.begin());
  }
  FUZZ_CHECK(host.compare(0, base.size(), base) == 0);
  std::string rest = host.substr(base.size());
  if (parsed.trailing_separator) {
    FUZZ_CHECK(!rest.empty() && rest.back() == '/');
    rest.pop_back();
  }
  std::vector<std::string> names;
  if (!rest.empty()) {
    FUZZ_CHECK(rest[0] == '/');
    names = Split(rest.substr(1));
  }
  FUZZ_CHECK(names.size() == want.size());
  for (size_t i = 0; i < names.size(); ++i)
    FUZZ_CHECK(text->NameKey(names[i]) == text->NameKey(want[i]));
  return 0;
}
