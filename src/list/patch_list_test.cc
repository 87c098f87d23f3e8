// Tests of reading the patch list and expanding its message.

#include "list/patch_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace patcher {
namespace {

ListReader Reader(const std::string& data) {
  return ListReader(std::unique_ptr<InputFile>(new MemoryInputFile(data)));
}

/// Reads a whole list as both passes do: the header, then the entries as
/// "source|dest" ("source" alone for a line without a comma).
struct ReadList {
  explicit ReadList(const std::string& data) {
    ListReader list = Reader(data);
    char line[kLineCapacity];
    corrupt =
        read_header(message, sizeof message, exe_name, sizeof exe_name, &list);
    Entry entry;
    while (next_entry(&list, line, sizeof line, &entry))
      entries.push_back(std::string(entry.source) +
                        (entry.dest ? "|" + std::string(entry.dest) : ""));
  }
  int corrupt;
  char message[kLineCapacity];
  char exe_name[kLineCapacity];
  std::vector<std::string> entries;
};

TEST(ListReaderTest, TranslatesLikeWindowsTextMode) {
  ListReader list = Reader(
      "a\r\nb\rc\r\n\r\x1A"
      "after\n");
  char buf[16];
  ASSERT_NE(nullptr, list.Gets(buf, sizeof buf));
  EXPECT_STREQ("a\n", buf);
  ASSERT_NE(nullptr, list.Gets(buf, sizeof buf));
  EXPECT_STREQ("b\rc\n", buf);  // a lone CR stays
  ASSERT_NE(nullptr, list.Gets(buf, sizeof buf));
  EXPECT_STREQ("\r", buf);  // Ctrl-Z ends the data right after it
  EXPECT_TRUE(list.eof());
  strcpy(buf, "untouched");
  EXPECT_EQ(nullptr, list.Gets(buf, sizeof buf));
  EXPECT_STREQ("untouched", buf);
}

TEST(ListReaderTest, CrLfSplitAcrossReadsIsOneLineFeed) {
  // The reader fills 4096 bytes at a time; put the CR last in the first fill.
  std::string data(4095, 'x');
  data += "\r\nend\n";
  ListReader list = Reader(data);
  std::vector<char> buf(8192);
  ASSERT_NE(nullptr, list.Gets(buf.data(), buf.size()));
  EXPECT_EQ(data.substr(0, 4095) + "\n", buf.data());
}

TEST(ListReaderTest, LongLineIsReadInPiecesWithoutEof) {
  std::string data(1030, 'x');
  ListReader list = Reader(data + "\n");
  char line[kLineCapacity];
  read_line(line, sizeof line, &list);
  EXPECT_EQ(1023u, strlen(line));
  EXPECT_FALSE(list.eof());
  read_line(line, sizeof line, &list);
  EXPECT_STREQ("xxxxxxx", line);
}

TEST(ReadLineTest, CutsAtLineFeedThenCarriageReturn) {
  ListReader list = Reader("one\rtwo\nthree");
  char line[kLineCapacity];
  read_line(line, sizeof line, &list);
  EXPECT_STREQ("one", line);
  read_line(line, sizeof line, &list);
  EXPECT_STREQ("three", line);
  EXPECT_TRUE(list.eof());
}

TEST(ReadHeaderTest, CorruptOnlyWhenTheDataEndsTooEarly) {
  EXPECT_EQ(1, ReadList("").corrupt);
  EXPECT_EQ(1, ReadList("only a message").corrupt);
  EXPECT_EQ(1, ReadList("\x1A"
                        "message\nexe\n")
                   .corrupt);

  ReadList one_line("message\n");
  EXPECT_EQ(0, one_line.corrupt);
  EXPECT_STREQ("message", one_line.message);
  EXPECT_STREQ("", one_line.exe_name);
  EXPECT_TRUE(one_line.entries.empty());

  ReadList two_lines("message\r\ngame.exe");
  EXPECT_EQ(0, two_lines.corrupt);
  EXPECT_STREQ("game.exe", two_lines.exe_name);
}

TEST(ReadHeaderTest, OverlongMessageSpillsIntoTheExecutableName) {
  ReadList list(std::string(1023, 'm') + "rest\ngame.exe\na,b\n");
  EXPECT_EQ(0, list.corrupt);
  EXPECT_EQ(1023u, strlen(list.message));
  EXPECT_STREQ("rest", list.exe_name);
  EXPECT_EQ(std::vector<std::string>({"game.exe", "a|b"}), list.entries);
}

TEST(NextEntryTest, SplitsAtFirstCommaAndSkipsShortLines) {
  ReadList list(
      "msg\nexe\n"
      "data\\a.mix,Data\\a.mix\n"
      "\n"
      "x\n"
      "ab\n"
      "s,d\n"
      " src , dst,with,commas \r\n"
      "nocomma\n"
      "last,line");
  EXPECT_EQ(std::vector<std::string>({"data\\a.mix|Data\\a.mix", "s|d",
                                      " src | dst,with,commas ", "nocomma",
                                      "last|line"}),
            list.entries);
}

TEST(NextEntryTest, CrLfAndLfListsReadAlike) {
  const std::string lf = "Apply?\ngame.exe\na.mix,a.mix\nb.mix,Data\\b.mix\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ReadList a(lf), b(crlf);
  EXPECT_STREQ(a.message, b.message);
  EXPECT_STREQ(a.exe_name, b.exe_name);
  EXPECT_EQ(a.entries, b.entries);
  EXPECT_EQ(2u, b.entries.size());
}

TEST(EscapesTest, ReplaceFirst) {
  char text[kLineCapacity] = "a-b-c";
  EXPECT_EQ(1, replace_first(text, sizeof text, "-", "+"));
  EXPECT_STREQ("a+b-c", text);
  EXPECT_EQ(0, replace_first(text, sizeof text, "x", "+"));
  EXPECT_STREQ("a+b-c", text);
  char small[6] = "a-b";
  EXPECT_EQ(0, replace_first(small, sizeof small, "-", "----"));  // no room
  EXPECT_STREQ("a-b", small);
}

TEST(EscapesTest, ExpandsEveryPairOnce) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"One.\\nTwo.", "One.\nTwo."},
      {"\\n\\n\\t\\r\\t", "\n\n\t\r\t"},
      {"C:\\\\new",
       "C:\\\n"
       "ew"},  // no escape for the backslash itself
      {"\\N \\x \\", "\\N \\x \\"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char message[kLineCapacity];
    strcpy(message, c.in);
    EXPECT_EQ(0, expand_escapes(message, sizeof message));
    EXPECT_STREQ(c.out, message) << c.in;
  }
}

TEST(EscapesTest, FullBufferOfPairs) {
  char message[kLineCapacity];
  std::string pairs;
  while (pairs.size() + 2 < sizeof message) pairs += "\\t";
  strcpy(message, pairs.c_str());
  expand_escapes(message, sizeof message);
  EXPECT_EQ(std::string(pairs.size() / 2, '\t'), message);
}

}  // namespace
}  // namespace patcher
