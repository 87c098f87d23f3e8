// Feeds arbitrary bytes as each launcher file the search for prefixes reads:
// KeyValues text (Steam's library lists and manifests), Lutris' and Bottles'
// YAML, Heroic's and Faugus Launcher's JSON and PortProton's configuration.
// Checks that KeyValues read back the same when written out again, that a
// YAML text read back from double quotes is the text written into them, and
// that nothing empty is returned as a place.

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

/// Writes `text` as a double-quoted YAML scalar broken over lines with
/// escaped line breaks, as PyYAML writes a long path beyond ASCII.
std::string DoubleQuotedYaml(const std::string& text) {
  std::string out = "\"";
  size_t column = 0;
  for (unsigned char c : text) {
    if (column > 20) {
      out += "\\\n    ";
      if (c == ' ') {
        out += "\\ ";
        column = 0;
        continue;
      }
      column = 0;
    }
    char hex[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
    ++column;
  }
  return out + "\"";
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
  CheckNoneEmpty(SteamConfigLibraryFolders(text));
  SteamAppName(text);

  LutrisPrefix(text);
  LutrisExe(text);
  BottlesPlaceholderPath(text);
  BottlesCustomPath(text);
  YamlValue(text, "", "prefix");
  CheckNoneEmpty(HeroicWinePrefixes(text));
  CheckNoneEmpty(FaugusPrefixes(text));
  PortProtonFolder(text);

  // Bytes below 0x80 written as \x escapes read back as they were; the
  // others become code points, so only ASCII input is compared.
  std::string ascii;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x80) ascii += c;
  }
  FUZZ_CHECK(YamlValue("game:\n  prefix: " + DoubleQuotedYaml(ascii) + "\n",
                       "game", "prefix") == ascii);
  return 0;
}
