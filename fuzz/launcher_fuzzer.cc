// Feeds arbitrary bytes as each launcher file the search for prefixes reads:
// KeyValues text (Steam's library list and manifests), Lutris' and Bottles'
// YAML and Heroic's JSON. Checks that KeyValues read back the same when
// written out again, and that nothing empty is returned as a place.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "test_util.h"
#include "prefixes/launcher_config.h"
#include "prefixes/vdf.h"

namespace patcher {
namespace {

/// Writes a text as a quoted KeyValues string.
void Quote(const std::string& text, std::string* out) {
  *out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') {
      *out += '\\';
      *out += c;
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\t') {
      *out += "\\t";
    } else {
      *out += c;
    }
  }
  *out += '"';
}

/// Writes the entries of `node` as KeyValues text.
void Write(const VdfNode& node, std::string* out) {
  for (const VdfNode& child : node.children) {
    Quote(child.key, out);
    *out += ' ';
    if (child.section) {
      *out += "{\n";
      Write(child, out);
      *out += "}\n";
    } else {
      Quote(child.value, out);
      *out += '\n';
    }
  }
}

bool Same(const VdfNode& a, const VdfNode& b) {
  if (a.key != b.key || a.value != b.value || a.section != b.section ||
      a.children.size() != b.children.size())
    return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!Same(a.children[i], b.children[i])) return false;
  }
  return true;
}

void CheckNoneEmpty(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) FUZZ_CHECK(!text.empty());
}

}  // namespace
}  // namespace patcher

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace patcher;
  std::string_view text(reinterpret_cast<const char*>(data), size);

  VdfNode root;
  ParseVdf(text, &root);
  std::string written;
  Write(root, &written);
  VdfNode again;
  FUZZ_CHECK(ParseVdf(written, &again));
  FUZZ_CHECK(Same(root, again));
  CheckNoneEmpty(SteamLibraryFolders(text));
  SteamAppName(text);

  LutrisPrefix(text);
  BottlesPlaceholderPath(text);
  YamlValue(text, "", "prefix");
  CheckNoneEmpty(HeroicWinePrefixes(text));
  return 0;
}
