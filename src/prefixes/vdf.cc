// Valve's KeyValues text read into a tree, tolerant of any text.

#include "prefixes/vdf.h"

#include <string>
#include <string_view>
#include <utility>

#include "text/text.h"

namespace patcher {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' ||
         c == '\f';
}

enum class Token { kString, kOpen, kClose, kEnd };

/// Splits KeyValues text into tokens.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  /// Returns the next token; a string's text goes to `*out`, and `*bare`
  /// tells whether it was written without quotes.
  Token Next(std::string* out, bool* bare) {
    SkipSpaceAndComments();
    if (pos_ == text_.size()) return Token::kEnd;
    char c = text_[pos_];
    if (c == '{' || c == '}') {
      ++pos_;
      return c == '{' ? Token::kOpen : Token::kClose;
    }
    out->clear();
    *bare = c != '"';
    if (*bare) {
      size_t end = pos_;
      while (end < text_.size() && !IsSpace(text_[end]) && text_[end] != '{' &&
             text_[end] != '}' && text_[end] != '"')
        ++end;
      out->assign(text_.substr(pos_, end - pos_));
      pos_ = end;
      return Token::kString;
    }
    for (++pos_; pos_ < text_.size(); ++pos_) {
      c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return Token::kString;
      }
      if (c == '\\' && pos_ + 1 < text_.size()) {
        char next = text_[pos_ + 1];
        if (next == '\\' || next == '"' || next == 'n' || next == 't') {
          *out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
          ++pos_;
          continue;
        }
      }
      *out += c;
    }
    damaged_ = true;  // the closing quote is missing
    return Token::kString;
  }

  bool damaged() const { return damaged_; }

 private:
  void SkipSpaceAndComments() {
    while (pos_ < text_.size()) {
      if (IsSpace(text_[pos_])) {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "//") {
        size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else {
        return;
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  bool damaged_ = false;
};

/// Skips the rest of a section whose `{` was read, up to the `}` that
/// closes it or the end of the text. Returns false at the end of the text.
bool SkipSection(Tokenizer* in) {
  std::string ignored;
  bool bare;
  for (size_t open = 1; open > 0;) {
    Token token = in->Next(&ignored, &bare);
    if (token == Token::kEnd) return false;
    if (token == Token::kOpen) ++open;
    if (token == Token::kClose) --open;
  }
  return true;
}

/// Reads entries into `node` up to the `}` that closes it (at depth 0: up to
/// the end of the text). Returns false when something was left out.
bool ParseEntries(Tokenizer* in, VdfNode* node, int depth) {
  bool whole = true;
  std::string key, value;
  bool bare;
  for (;;) {
    Token token = in->Next(&key, &bare);
    if (token == Token::kEnd) return whole && depth == 0;
    if (token == Token::kClose) {
      if (depth > 0) return whole;
      whole = false;  // a stray '}'
      continue;
    }
    if (token == Token::kOpen) {  // a section without a key
      if (!SkipSection(in)) return false;
      whole = false;
      continue;
    }
    if (bare && key.size() >= 2 && key.front() == '[' && key.back() == ']')
      continue;  // a condition such as [$WIN32]
    token = in->Next(&value, &bare);
    if (token == Token::kString) {
      node->children.push_back(VdfNode{key, value, false, {}});
    } else if (token == Token::kOpen) {
      if (depth + 1 > kMaxVdfDepth) {
        if (!SkipSection(in)) return false;
        whole = false;
        continue;
      }
      VdfNode child{key, std::string(), true, {}};
      whole &= ParseEntries(in, &child, depth + 1);
      node->children.push_back(std::move(child));
    } else {  // a key without a value
      if (token == Token::kEnd || depth > 0) return false;  // '}' closes node
      whole = false;
    }
  }
}

}  // namespace

bool ParseVdf(std::string_view text, VdfNode* root) {
  root->children.clear();
  Tokenizer in(text);
  bool whole = ParseEntries(&in, root, 0);
  return whole && !in.damaged();
}

const VdfNode* FindVdfChild(const VdfNode& node, std::string_view key) {
  for (const VdfNode& child : node.children) {
    if (EqualsIgnoringAsciiCase(child.key, key)) return &child;
  }
  return nullptr;
}

}  // namespace patcher
