// Valve's KeyValues text format, in which Steam keeps its library list
// (libraryfolders.vdf) and its games' manifests (appmanifest_*.acf).

#ifndef PATCHER_PREFIXES_VDF_H_
#define PATCHER_PREFIXES_VDF_H_

#include <string>
#include <string_view>
#include <vector>

namespace patcher {

/// One entry of KeyValues text: a pair `key value`, or a section
/// `key { ... }` with its entries in file order.
struct VdfNode {
  std::string key;
  std::string value;  // a pair's value; empty for a section
  bool section = false;
  std::vector<VdfNode> children;
};

/// Sections nested deeper than this are left out whole.
constexpr int kMaxVdfDepth = 32;

/// Reads KeyValues text into the children of `*root` (whose own key stays
/// empty). Tokens are quoted strings, with the escapes `\\`, `\"`, `\n` and
/// `\t` (a backslash before any other character stays as it is), or bare
/// words, which end at white space, `{`, `}` or `"`; `//` starts a comment
/// that runs to the end of the line. A bare word in brackets where a key
/// belongs (`[$WIN32]`) is a condition and is skipped. Never fails on bad
/// text: whatever cannot be read as a pair or section (a key without a
/// value, a stray `}`, a section without a key, one nested too deep, the
/// rest of a string without its closing quote) is left out, and reading
/// goes on after it. Returns true when nothing was left out.
bool ParseVdf(std::string_view text, VdfNode* root);

/// Returns the first entry of `node` whose key equals `key` ignoring ASCII
/// case, or null when there is none.
const VdfNode* FindVdfChild(const VdfNode& node, std::string_view key);

}  // namespace patcher

#endif  // PATCHER_PREFIXES_VDF_H_
