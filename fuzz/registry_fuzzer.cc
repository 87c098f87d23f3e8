// Feeds arbitrary bytes as a prefix's system.reg to the registry reader:
// the pre-flight check's lookup of the installation directory, and a lookup
// and queries of one key picked by the input.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/check.h"
#include "test_util.h"
#include "wine/registry.h"

namespace patcher {
namespace {

const char* const kKeys[] = {
    "Software\\Quelvar\\Torvane 2000",
    "Software\\Quelvar\\Torvane",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\torvane.exe",
    "Software\\Wow6432Node\\Quelvar\\Torvane 2000",
    "Software",
    "System\\Select",
    "a\\b\\c\\d",
    "Software\\Classes\\.txt",
};
const char* const kValues[] = {"Install Dir", "Path", "SymbolicLinkValue", "",
                               "a"};
const uint32_t kCapacities[] = {0, 1, 4, 500, 1024, 70000};

/// A platform whose registry is the fuzzed file and whose list is fixed.
class RegistryPlatform : public Platform {
 public:
  /// With a `memo`, lookups share it, as the Linux platform's do.
  RegistryPlatform(const RegistryOpener& open, WineLookupMemo* memo)
      : open_(open), memo_(memo) {}
  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override {
    return OpenWineKey(open_, subkey, &text_, memo_);
  }
  int ShowBox(const char*, const char*, BoxType) override { return 1; }
  uint32_t ReadAttributes(const char*) override { return kInvalidAttributes; }
  bool WriteAttributes(const char*, uint32_t) override { return false; }
  std::unique_ptr<InputFile> OpenForReading(const char*,
                                            std::string*) override {
    return std::unique_ptr<InputFile>(
        new MemoryInputFile("message\ntorvane.exe\n"));
  }
  bool CopyOver(const char*, const char*, std::string*) override {
    return false;
  }

 private:
  const RegistryOpener& open_;
  AnsiText text_{[] { return CodePage::Windows1252(); },
                 [] { return CaseTable(); }};
  WineLookupMemo* memo_;
};

}  // namespace
}  // namespace patcher

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace patcher;
  FuzzedDataProvider provider(data, size);
  uint8_t chunk_option = provider.ConsumeIntegral<uint8_t>();
  uint8_t pick = provider.ConsumeIntegral<uint8_t>();
  std::string file = provider.ConsumeRemainingBytesAsString();
  size_t chunk = chunk_option == 0 ? 64 * 1024 : chunk_option;
  int opens = 0;
  RegistryOpener open = [&]() -> std::unique_ptr<InputFile> {
    ++opens;
    return std::unique_ptr<InputFile>(new MemoryInputFile(file, chunk));
  };

  // The installation directory as the pre-flight check finds it, its lookups
  // sharing what they learn as on Linux.
  WineLookupMemo memo;
  RegistryPlatform platform(open, &memo);
  char message[1024];
  char install_dir[1024];
  memset(install_dir, 0x55, sizeof install_dir);
  int result = check_patch(&platform, message, sizeof message, install_dir,
                           sizeof install_dir);
  FUZZ_CHECK(result == CHECK_OK || result == CHECK_NO_INSTALL_DIR);
  if (result == CHECK_OK) {
    FUZZ_CHECK(memchr(install_dir, '\0', sizeof install_dir) != nullptr);
  }

  // One key, one value, one capacity. A heap buffer of exactly the given
  // size, so that writing past it is caught.
  const char* key_name = kKeys[pick % (sizeof kKeys / sizeof kKeys[0])];
  const char* value_name =
      kValues[pick / 8 % (sizeof kValues / sizeof kValues[0])];
  uint32_t capacity = kCapacities[pick / 40 % 6];
  opens = 0;
  WineKey key;
  if (!LookupWineKey(open, key_name, &key)) return 0;
  FUZZ_CHECK(opens <= 9);
  std::unique_ptr<char[]> buf(new char[capacity ? capacity : 1]);
  uint32_t type = 0xdeadbeef;
  uint32_t got = capacity;
  AnsiText text([] { return CodePage::Windows1252(); },
                [] { return CaseTable(); });
  long status = QueryWineValue(key, value_name, &type, buf.get(), &got, &text);
  FUZZ_CHECK(status == kRegOk || status == kRegNotFound ||
             status == kRegMoreData);
  if (status == kRegOk) {
    FUZZ_CHECK(got <= capacity);
    FUZZ_CHECK(type != 0xdeadbeef);
  }
  return 0;
}
