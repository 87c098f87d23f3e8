// Reading HKEY_LOCAL_MACHINE from a Wine prefix's system.reg, as Wine
// saved it, the way a 32-bit Windows program sees it.

#ifndef PATCHER_WINE_REGISTRY_H_
#define PATCHER_WINE_REGISTRY_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "text/ansi_text.h"

namespace patcher {

/// One value of a key read from a Wine registry file.
struct WineValue {
  std::string name;   // unescaped, UTF-8
  uint32_t type = 0;  // kRegSz, kRegDword, ...
  /// The data as stored, as RegQueryValueExW returns it: the string types
  /// (kRegSz, kRegExpandSz, kRegMultiSz) in UTF-16LE. Empty when the data
  /// was dropped for being larger than 64 KiB.
  std::string data;
  uint64_t size = 0;  // byte size of that data, kept even when it was dropped
};

/// The values of one key, in file order.
struct WineKey {
  std::vector<WineValue> values;
};

/// Opens the registry file from its start; returns null when it cannot be
/// opened.
using RegistryOpener = std::function<std::unique_ptr<InputFile>()>;

/// What lookups in one registry file have learnt that later lookups in the
/// same file can use: keys (as component lists) that the file holds nothing
/// at or below. Good while the file stays as it was; keep one per file for
/// the moments of one lookup or one run.
struct WineLookupMemo {
  std::vector<std::vector<std::string>> absent;
};

/// Looks up HKEY_LOCAL_MACHINE\`path` in the system.reg text that `open`
/// yields, as a 32-bit Windows program sees it: in a 64-bit prefix
/// `Software\...` is read from `Software\Wow6432Node\...`, and `#link` keys on
/// the way are followed (at most 8 of them). Returns true and fills `*key`
/// when the key exists (a key that only appears as the parent of other keys
/// has no values); false when it does not, when a link on the way is broken
/// or loops, or when the file is missing or not a Wine registry file.
///
/// Each pass streams the file once and stops after the wanted key, or at the
/// first key line that comes after every key on the wanted key's path in the
/// order Wine writes keys in (depth first, names sorted ignoring case): a
/// key written out of that order, as only a hand-edited file has it, may not
/// be found. Only the key and its ancestors are parsed beyond their key
/// line. A value that cannot be parsed (an unterminated string, a malformed
/// type, a hex list cut off after a trailing `\`) is left out, and so are
/// the values of one key beyond 8 MiB in total. A read error counts as the
/// end of the file.
///
/// With a `memo`, a lookup that does not find its key records the part of
/// its path that the file holds nothing below, and a later lookup at or
/// below a recorded part returns false after reading only the file's header.
bool LookupWineKey(const RegistryOpener& open, const std::string& path,
                   WineKey* key, WineLookupMemo* memo = nullptr);

/// Opens HKEY_LOCAL_MACHINE\`path` (in the ANSI code page of `text`) from
/// the registry file that `open` yields, as LookupWineKey finds it (sharing
/// `memo` when not null), for queries in that code page. Returns null when
/// it is not found. `text` must outlive the key.
std::unique_ptr<RegistryKey> OpenWineKey(const RegistryOpener& open,
                                         const std::string& path,
                                         AnsiText* text,
                                         WineLookupMemo* memo = nullptr);

/// Reads value `name` (case-insensitive; the last one when a name repeats) of
/// `key` as RegQueryValueExA does, with the contract of RegistryKey::Query in
/// platform.h; names and strings are in the ANSI code page of `text`. A
/// string value's size is that of its text in the code page, its terminator
/// counted when stored; one stored without a terminator gets a 0 byte after
/// it when the buffer has room, not counted. When the data does not fit,
/// `*size` is set to the bytes needed, except for a value whose data was
/// dropped for size.
long QueryWineValue(const WineKey& key, const char* name, uint32_t* type,
                    char* data, uint32_t* size, AnsiText* text);

}  // namespace patcher

#endif  // PATCHER_WINE_REGISTRY_H_
