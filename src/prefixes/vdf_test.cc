// Tests of reading Valve's KeyValues text.

#include "prefixes/vdf.h"

#include <gtest/gtest.h>

#include <string>

namespace patcher {
namespace {

/// The entries of `node` as "key=value" and "key{...}" in file order.
std::string Dump(const VdfNode& node) {
  std::string out;
  for (const VdfNode& child : node.children) {
    if (!out.empty()) out += ' ';
    out += child.key;
    out += child.section ? "{" + Dump(child) + "}" : "=" + child.value;
  }
  return out;
}

TEST(VdfTest, ReadsWhatSteamWrites) {
  struct Case {
    const char* text;
    const char* entries;
    bool whole;
  };
  const Case cases[] = {
      {"\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/u/.steam\"\n"
       "\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"1234\"\n\t\t}\n\t}\n}\n",
       "libraryfolders{0{path=/home/u/.steam apps{228980=1234}}}", true},
      // Bare words end at blanks, braces and quotes; comments to the line's
      // end; escapes; a condition after a value.
      {"a b // note \"x\" {\nc{d\"e\"}f \"\\\\ \\\" \\n \\t \\q\" [$WIN32]\n",
       "a=b c{d=e} f=\\ \" \n \t \\q", true},
      {"", "", true},
      {"k \"\" s {} // only a comment", "k= s{}", true},
      // Damage: what can be read is kept, the rest left out.
      {"a b } c d", "a=b c=d", false},                     // a stray '}'
      {"s { a b c } d e", "s{a=b} d=e", false},              // key, no value
      {"{ a b } c d", "c=d", false},                         // no key
      {"s { a b", "s{a=b}", false},                          // unclosed
      {"a \"unterminated", "a=unterminated", false},
      {"a", "", false},
      {"a \"b\\", "a=b\\", false},
  };
  for (const Case& c : cases) {
    VdfNode root;
    EXPECT_EQ(c.whole, ParseVdf(c.text, &root)) << c.text;
    EXPECT_EQ(c.entries, Dump(root)) << c.text;
  }
}

TEST(VdfTest, DeepNestingIsLeftOutWithoutHarm) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "k {";
  VdfNode root;
  EXPECT_FALSE(ParseVdf(deep + " after x", &root));
  // Sections nest up to the limit; the one below it is dropped whole.
  std::string nested, closing;
  for (int i = 0; i <= kMaxVdfDepth; ++i) nested += "k { ", closing += "} ";
  EXPECT_FALSE(ParseVdf(nested + "v 1 " + closing + "after x", &root));
  const VdfNode* node = &root;
  int depth = 0;
  while (!node->children.empty() && node->children[0].section) {
    node = &node->children[0];
    ++depth;
  }
  EXPECT_EQ(kMaxVdfDepth, depth);
  EXPECT_TRUE(node->children.empty());
  EXPECT_EQ("after", root.children.back().key);
}

TEST(VdfTest, FindsChildrenIgnoringCase) {
  VdfNode root;
  ParseVdf("LibraryFolders { PATH one path two }", &root);
  const VdfNode* list = FindVdfChild(root, "libraryfolders");
  ASSERT_NE(nullptr, list);
  EXPECT_EQ("one", FindVdfChild(*list, "path")->value);
  EXPECT_EQ(nullptr, FindVdfChild(*list, "pat"));
}

}  // namespace
}  // namespace patcher
