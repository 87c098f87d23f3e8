// The launchers' files read for their prefixes: tolerant readers of Steam's
// VDF, Lutris' and Bottles' YAML, Heroic's and Faugus Launcher's JSON and
// PortProton's one-line configuration.

#include "prefixes/launcher_config.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "prefixes/vdf.h"
#include "text/text.h"

namespace patcher {

namespace {

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

/// Reads `digits` hex digits at `text[pos]`. Returns false when there are
/// fewer.
bool ReadHex(std::string_view text, size_t pos, int digits, uint32_t* value) {
  if (pos + digits > text.size()) return false;
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    int d = HexDigitValue(static_cast<unsigned char>(text[pos + i]));
    if (d < 0) return false;
    *value = *value * 16 + d;
  }
  return true;
}

/// Appends a code point read from an escape; one that UTF-8 cannot hold
/// becomes the replacement character.
void AppendCodePoint(uint32_t cp, std::string* out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    cp = kReplacementCharacter;
  AppendUtf8(cp, out);
}

// --- YAML, the block style launchers write.

/// One line of YAML: its indentation and its text after it, without a
/// trailing carriage return.
struct YamlLine {
  size_t indent;
  std::string_view text;
};

std::vector<YamlLine> SplitYamlLines(std::string_view yaml) {
  std::vector<YamlLine> lines;
  size_t pos = 0;
  while (pos < yaml.size()) {
    size_t end = yaml.find('\n', pos);
    if (end == std::string_view::npos) end = yaml.size();
    std::string_view line = yaml.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos) indent = line.size();
    lines.push_back(YamlLine{indent, line.substr(indent)});
    pos = end + 1;
  }
  return lines;
}

/// True for a line that holds nothing but blanks or a comment.
bool IsBlankYaml(const YamlLine& line) {
  size_t first = line.text.find_first_not_of(" \t");
  return first == std::string_view::npos || line.text[first] == '#';
}

/// When `line` is `key:` followed by a blank or its end, sets `*rest` to
/// what follows the colon and returns true.
bool IsYamlKey(std::string_view line, std::string_view key,
               std::string_view* rest) {
  if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
      line[key.size()] != ':')
    return false;
  *rest = line.substr(key.size() + 1);
  return rest->empty() || (*rest)[0] == ' ' || (*rest)[0] == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string_view();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last + 1 - first);
}

/// Appends what the escape `e` of a double-quoted scalar stands for, its
/// hex digits (if any) read from `text` after `*i`, which moves past them.
/// Returns false for an escape YAML does not have.
bool ReadYamlEscape(char e, std::string_view text, size_t* i,
                    std::string* out) {
  int digits = e == 'x' ? 2 : e == 'u' ? 4 : e == 'U' ? 8 : 0;
  if (digits > 0) {
    uint32_t cp;
    if (!ReadHex(text, *i + 1, digits, &cp)) return false;
    AppendCodePoint(cp, out);
    *i += digits;
    return true;
  }
  static const char kFrom[] = "0abt\tnvfre \"/\\";
  static const char kTo[] = "\0\a\b\t\t\n\v\f\r\x1b \"/\\";
  size_t k = std::string_view(kFrom, sizeof kFrom - 1).find(e);
  if (k != std::string_view::npos) {
    *out += kTo[k];
    return true;
  }
  switch (e) {
    case 'N':  // next line
      AppendUtf8(0x85, out);
      return true;
    case '_':  // no-break space
      AppendUtf8(0xA0, out);
      return true;
    case 'L':  // line separator
      AppendUtf8(0x2028, out);
      return true;
    case 'P':  // paragraph separator
      AppendUtf8(0x2029, out);
      return true;
  }
  return false;
}

/// Reads a quoted scalar that starts at `value[0]` (its quote) and may go on
/// over the lines `more`, as YAML reads flow scalars: blanks around a line
/// break go, a single break folds to a blank and each empty line after it is
/// a line feed; in double quotes a `\` at the end of a line joins it to the
/// next with nothing between. Returns false when the scalar does not end or
/// holds an escape YAML does not have.
bool ReadQuotedYaml(std::string_view value,
                    const std::vector<std::string_view>& more,
                    std::string* out) {
  const char quote = value[0];
  std::string_view text = value.substr(1);
  size_t line = 0;
  for (;;) {
    size_t keep = out->size();  // up to the line's last non-blank
    bool joined = false;        // the line ended with an escaped break
    for (size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (c == quote) {
        if (quote == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
          *out += '\'';
          keep = out->size();
          ++i;
          continue;
        }
        return true;
      }
      if (quote == '"' && c == '\\') {
        if (i + 1 == text.size()) {
          joined = true;
          break;
        }
        if (!ReadYamlEscape(text[++i], text, &i, out)) return false;
        keep = out->size();
        continue;
      }
      *out += c;
      if (c != ' ' && c != '\t') keep = out->size();
    }
    if (!joined) out->resize(keep);
    // The next line with text; the empty ones before it are line feeds.
    size_t empty = 0;
    for (;;) {
      if (line == more.size()) return false;
      text = more[line++];
      size_t first = text.find_first_not_of(" \t");
      if (first != std::string_view::npos) {
        text = text.substr(first);
        break;
      }
      ++empty;
    }
    if (empty > 0 || joined)
      out->append(empty, '\n');
    else
      *out += ' ';
  }
}

// --- JSON, read only for the text values of members of one name.

/// Reads a JSON string whose opening quote is at `json[*pos]`, leaving
/// `*pos` after its closing quote. Returns false when it does not end.
bool ReadJsonString(std::string_view json, size_t* pos, std::string* out) {
  out->clear();
  Utf16Decoder units;
  uint32_t cps[2];
  auto flush = [&] {
    if (units.Finish(cps)) AppendUtf8(cps[0], out);
  };
  for (size_t i = *pos + 1; i < json.size(); ++i) {
    char c = json[i];
    if (c == '"') {
      flush();
      *pos = i + 1;
      return true;
    }
    if (c != '\\') {
      flush();
      *out += c;
      continue;
    }
    if (++i == json.size()) return false;
    char e = json[i];
    uint32_t unit;
    if (e == 'u' && ReadHex(json, i + 1, 4, &unit)) {
      for (int k = 0, n = units.Put(static_cast<uint16_t>(unit), cps); k < n;
           ++k)
        AppendUtf8(cps[k], out);
      i += 4;
      continue;
    }
    flush();
    static const char kFrom[] = "bfnrt";
    static const char kTo[] = "\b\f\n\r\t";
    size_t k = std::string_view(kFrom).find(e);
    *out += k != std::string_view::npos ? kTo[k] : e;
  }
  return false;
}

size_t SkipJsonSpace(std::string_view json, size_t pos) {
  while (pos < json.size() && (json[pos] == ' ' || json[pos] == '\t' ||
                               json[pos] == '\n' || json[pos] == '\r'))
    ++pos;
  return pos;
}

/// Returns every text value, not empty, of a member named `member` at any
/// depth of `json`, in file order.
std::vector<std::string> JsonStringMembers(std::string_view json,
                                           std::string_view member) {
  std::vector<std::string> values;
  std::string name, value;
  size_t pos = 0;
  while ((pos = json.find('"', pos)) != std::string_view::npos) {
    if (!ReadJsonString(json, &pos, &name)) break;
    pos = SkipJsonSpace(json, pos);
    if (pos >= json.size() || json[pos] != ':') continue;  // not a name
    pos = SkipJsonSpace(json, pos + 1);
    if (name != member || pos >= json.size() || json[pos] != '"') continue;
    if (!ReadJsonString(json, &pos, &value)) break;
    if (!value.empty()) values.push_back(value);
  }
  return values;
}

/// Appends the values of keys `BaseInstallFolder_<number>` in `node` and
/// below it.
void AddBaseInstallFolders(const VdfNode& node,
                           std::vector<std::string>* folders) {
  static const std::string_view kKey = "baseinstallfolder_";
  for (const VdfNode& child : node.children) {
    if (child.section) {
      AddBaseInstallFolders(child, folders);
      continue;
    }
    std::string key = ToLowerAscii(child.key);
    if (key.compare(0, kKey.size(), kKey) == 0 &&
        IsDigits(std::string_view(key).substr(kKey.size())) &&
        !child.value.empty())
      folders->push_back(child.value);
  }
}

}  // namespace

std::vector<std::string> SteamLibraryFolders(std::string_view vdf) {
  VdfNode root;
  ParseVdf(vdf, &root);
  std::vector<std::string> folders;
  const VdfNode* list = FindVdfChild(root, "libraryfolders");
  if (!list || !list->section) return folders;
  for (const VdfNode& entry : list->children) {
    std::string folder;
    if (entry.section) {
      const VdfNode* path = FindVdfChild(entry, "path");
      if (path && !path->section) folder = path->value;
    } else if (IsDigits(entry.key)) {
      folder = entry.value;
    }
    if (!folder.empty()) folders.push_back(folder);
  }
  return folders;
}

std::vector<std::string> SteamConfigLibraryFolders(std::string_view vdf) {
  VdfNode root;
  ParseVdf(vdf, &root);
  std::vector<std::string> folders;
  AddBaseInstallFolders(root, &folders);
  return folders;
}

std::string SteamAppName(std::string_view acf) {
  VdfNode root;
  ParseVdf(acf, &root);
  const VdfNode* state = FindVdfChild(root, "AppState");
  const VdfNode* name = state ? FindVdfChild(*state, "name") : nullptr;
  return name && !name->section ? name->value : std::string();
}

std::string YamlValue(std::string_view yaml, std::string_view section,
                      std::string_view key) {
  std::vector<YamlLine> lines = SplitYamlLines(yaml);
  size_t i = 0;
  size_t indent = 0;  // of the section's keys
  if (!section.empty()) {
    std::string_view rest;
    while (i < lines.size() &&
           !(lines[i].indent == 0 && IsYamlKey(lines[i].text, section, &rest) &&
             (TrimBlanks(rest).empty() || TrimBlanks(rest)[0] == '#')))
      ++i;
    // The section's keys are indented as its first line is.
    for (++i; i < lines.size() && IsBlankYaml(lines[i]); ++i) {
    }
    if (i >= lines.size() || lines[i].indent == 0) return std::string();
    indent = lines[i].indent;
  }
  for (; i < lines.size(); ++i) {
    if (IsBlankYaml(lines[i])) continue;
    if (lines[i].indent < indent) break;  // the section ended
    std::string_view rest;
    if (lines[i].indent != indent || !IsYamlKey(lines[i].text, key, &rest))
      continue;
    // Lines indented deeper than the key continue its value.
    std::vector<std::string_view> more;
    for (size_t j = i + 1; j < lines.size() &&
                           (lines[j].text.empty() || lines[j].indent > indent);
         ++j)
      more.push_back(lines[j].text);
    while (!more.empty() && TrimBlanks(more.back()).empty()) more.pop_back();
    std::string_view value = TrimBlanks(rest);
    std::string out;
    if (!value.empty() && (value[0] == '"' || value[0] == '\'')) {
      // Blanks at the line's end may be escaped ones: the text as it is.
      value = rest.substr(rest.find(value[0]));
      return ReadQuotedYaml(value, more, &out) ? out : std::string();
    }
    // Nothing on the line (a nested block), a comment, a block scalar, an
    // anchor, alias, tag or flow collection: not a text read here.
    if (value.empty() ||
        std::string_view("#|>&*!{[").find(value[0]) != std::string_view::npos)
      return std::string();
    // A plain value ends at a comment; its continuation lines join with
    // blanks.
    auto plain = [](std::string_view text) {
      size_t comment = text.find(" #");
      return TrimBlanks(text.substr(0, comment));
    };
    out = std::string(plain(value));
    for (std::string_view line : more) {
      if (line.empty() || line[0] == '#') break;
      out += ' ';
      out += plain(line);
    }
    return out;
  }
  return std::string();
}

std::string LutrisPrefix(std::string_view yaml) {
  return YamlValue(yaml, "game", "prefix");
}

std::string BottlesPlaceholderPath(std::string_view yaml) {
  return YamlValue(yaml, "", "Path");
}

std::string LutrisExe(std::string_view yaml) {
  return YamlValue(yaml, "game", "exe");
}

std::string BottlesCustomPath(std::string_view yaml) {
  return YamlValue(yaml, "", "custom_bottles_path");
}

std::vector<std::string> HeroicWinePrefixes(std::string_view json) {
  return JsonStringMembers(json, "winePrefix");
}

std::vector<std::string> FaugusPrefixes(std::string_view json) {
  return JsonStringMembers(json, "prefix");
}

std::string PortProtonFolder(std::string_view conf) {
  size_t pos = 0;
  while (pos < conf.size()) {
    size_t end = conf.find('\n', pos);
    if (end == std::string_view::npos) end = conf.size();
    std::string_view line = conf.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty()) continue;
    if (line.size() >= 2 && (line[0] == '"' || line[0] == '\'') &&
        line.back() == line[0])
      line = line.substr(1, line.size() - 2);
    return std::string(line);
  }
  return std::string();
}

}  // namespace patcher
