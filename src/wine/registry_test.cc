// Tests of reading HKEY_LOCAL_MACHINE from Wine's registry text.

#include "wine/registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "test_util.h"

namespace patcher {
namespace {

/// Counts the bytes handed out by the file it wraps.
class CountingInputFile : public InputFile {
 public:
  CountingInputFile(std::string data, size_t* count,
                    size_t chunk = std::numeric_limits<size_t>::max())
      : file_(std::move(data), chunk), count_(count) {}
  long Read(char* buf, size_t size) override {
    long n = file_.Read(buf, size);
    if (n > 0) *count_ += n;
    return n;
  }

 private:
  MemoryInputFile file_;
  size_t* count_;
};

/// Text in the given code page; the tests read strings in UTF-8 by default.
AnsiText TextIn(CodePage code_page) {
  return AnsiText([code_page] { return code_page; },
                  [] { return CaseTable(); });
}
AnsiText g_utf8 = TextIn(CodePage::Utf8());

RegistryOpener Opener(const std::string& text) {
  return [text] { return std::make_unique<MemoryInputFile>(text); };
}

/// Returns the data of value `name` as a query with a 64 KiB buffer returns
/// it, or "<missing>" / "<more data>".
std::string Get(const WineKey& key, const char* name,
                uint32_t* type = nullptr) {
  std::string buf(65536, '?');
  uint32_t size = static_cast<uint32_t>(buf.size());
  long rc = QueryWineValue(key, name, type, &buf[0], &size, &g_utf8);
  if (rc == kRegNotFound) return "<missing>";
  if (rc == kRegMoreData) return "<more data>";
  EXPECT_EQ(kRegOk, rc);
  return buf.substr(0, size);
}

/// Returns the value of `name` under `path` up to its first NUL, or
/// "<no key>".
std::string Find(const std::string& text, const std::string& path,
                 const char* name) {
  WineKey key;
  if (!LookupWineKey(Opener(text), path, &key)) return "<no key>";
  return Get(key, name).c_str();
}

/// `text` as the UTF-16LE hex list Wine writes, 16 bytes a line.
std::string HexUtf16(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char b[16];
    snprintf(b, sizeof(b), "%02x,00", static_cast<unsigned char>(text[i]));
    out += b;
    if (i + 1 < text.size()) out += i % 8 == 7 ? ",\\\n  " : ",";
  }
  return out;
}

std::string Prefix(const char* arch) {
  std::string text =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to REGISTRY\\\\Machine\n\n";
  return text + arch + "\n";
}

const char kApps[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

std::string Keys() {
  return std::string() +
         "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App "
         "Paths\\\\game.exe] 1796620816\n"
         "#time=1dd860aa4f8db80\n"
         "@=\"C:\\\\Games\\\\Torvane 2000\\\\game.exe\"\n"
         "\n[Software\\\\Quelvar\\\\Torvane 2000] 1796620816\n"
         "\"Install Dir\"=\"C:\\\\Native\"\n"
         "\n[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion"
         "\\\\App Paths] 1796620816\n"
         "#time=1dd860aa4f8db80\n#link\n"
         "\"SymbolicLinkValue\"=hex(6):" +
         HexUtf16(std::string("\\Registry\\Machine\\") + kApps) + "\n" +
         "\n[Software\\\\Wow6432Node\\\\Quelvar\\\\Torvane 2000] 1796620816\n"
         "#time=1dd860aa4f8db80\n"
         "\"Install Dir\"=\"C:\\\\Games\\\\Torvane 2000\"\n";
}

std::string Win64() { return Prefix("#arch=win64") + Keys(); }

TEST(WineRegistryTest, HeaderLine) {
  const char* game = "Software\\Quelvar\\Torvane 2000";
  EXPECT_EQ("C:\\Native", Find(Prefix("") + Keys(), game, "Install Dir"));
  EXPECT_EQ("<no key>", Find("WINE REGISTRY Version 1\n" + Keys(), game, ""));
  EXPECT_EQ("<no key>", Find("WINE REGISTRY Version 23\n" + Keys(), game, ""));
  EXPECT_EQ("<no key>", Find(" WINE REGISTRY Version 2\n" + Keys(), game, ""));
  EXPECT_EQ("<no key>", Find("", game, ""));
  WineKey key;
  EXPECT_FALSE(LookupWineKey([] { return nullptr; }, game, &key));
}

TEST(WineRegistryTest, ThirtyTwoBitView) {
  const char* game = "Software\\Quelvar\\Torvane 2000";
  EXPECT_EQ("C:\\Games\\Torvane 2000", Find(Win64(), game, "Install Dir"));
  EXPECT_EQ("C:\\Games\\Torvane 2000",
            Find(Win64(), "software\\WOW6432NODE\\quelvar\\TORVANE 2000",
                 "INSTALL DIR"));
  EXPECT_EQ("C:\\Native",
            Find(Prefix("#arch=win32") + Keys(), game, "Install Dir"));
  // A key only the 64-bit view has is not seen.
  std::string other = "[Software\\\\Other] 1\n\"v\"=\"x\"\n";
  EXPECT_EQ("<no key>",
            Find(Prefix("#arch=win64") + other, "Software\\Other", "v"));
  EXPECT_EQ("x", Find(Prefix("#arch=win32") + other, "Software\\Other", "v"));
  // A key with subkeys but no line of its own exists, without values.
  WineKey key;
  ASSERT_TRUE(LookupWineKey(Opener(Win64()), "Software\\Quelvar", &key));
  EXPECT_TRUE(key.values.empty());
  EXPECT_FALSE(LookupWineKey(Opener(Win64()), "Software\\Quelvar2", &key));
}

TEST(WineRegistryTest, LinksAreFollowed) {
  std::string path = std::string(kApps) + "\\game.exe";
  std::string expected = "C:\\Games\\Torvane 2000\\game.exe";
  EXPECT_EQ(expected, Find(Win64(), path, ""));
  EXPECT_EQ(expected, Find(Win64(),
                           "SOFTWARE\\Microsoft\\Windows\\"
                           "CurrentVersion\\App Paths\\GAME.EXE",
                           ""));
  // Same with CR LF line ends, including the continuation lines.
  std::string crlf;
  for (char c : Win64()) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  EXPECT_EQ(expected, Find(crlf, path, ""));
  EXPECT_EQ("C:\\Games\\Torvane 2000",
            Find(crlf, "Software\\Quelvar\\Torvane 2000", "Install Dir"));

  auto link = [](const char* from, const std::string& to) {
    return std::string("[") + from +
           "] 1\n#link\n\"SymbolicLinkValue\"=hex(6):" + HexUtf16(to) + "\n";
  };
  std::string loop = Prefix("") + link("A", "\\Registry\\Machine\\B") +
                     link("B", "\\REGISTRY\\MACHINE\\A") +
                     "[C\\\\x] 1\n@=\"c\"\n";
  EXPECT_EQ("<no key>", Find(loop, "A\\x", ""));
  std::string chain = Prefix("") + link("A", "\\Registry\\Machine\\B") +
                      link("B", std::string("\\Registry\\Machine\\C") + '\0') +
                      "[C\\\\x] 1\n@=\"c\"\n";
  EXPECT_EQ("c", Find(chain, "A\\x", ""));
  std::string user =
      Prefix("") + link("A", "\\Registry\\User\\C") + "[C\\\\x] 1\n@=\"c\"\n";
  EXPECT_EQ("<no key>", Find(user, "A\\x", ""));
}

TEST(WineRegistryTest, Escapes) {
  std::string text =
      Prefix("") +
      "[Caf\\x00e9 \\[1\\]\\\\\"q\"] 1\n"
      "\"a\\\"b\\\\c\"=\"\\x00e9\\351\\101\\x263a\\tz\\e\\q\\xg\\v\"\n"
      "\"raw\"=\"\xc3\xa9\xff!\"\n"
      "\"pair\"=\"\\xd83d\\xde00|\\xd83d|\\xde00\"\n";
  WineKey key;
  ASSERT_TRUE(LookupWineKey(Opener(text), "caf\xc3\xa9 [1]\\\"Q\"", &key));
  EXPECT_EQ(std::string("\xc3\xa9\xc3\xa9"
                        "A\xe2\x98\xba\tz\x1bqxg\v\0",
                        16),
            Get(key, "A\"B\\C"));
  EXPECT_EQ(std::string("\xc3\xa9\xef\xbf\xbd!\0", 7), Get(key, "raw"));
  EXPECT_EQ(std::string("\xf0\x9f\x98\x80|\xef\xbf\xbd|\xef\xbf\xbd\0", 13),
            Get(key, "pair"));
}

TEST(WineRegistryTest, ValueForms) {
  std::string text = Prefix("") +
                     "[K] 1\n"
                     "@=\"def\"\n"
                     "\"sz\"=str:\"abc\"\n"
                     "\"exp\"=str(2):\"%WINDIR%\\\\x\"\n"
                     "\"multi\"=str(7):\"a\\0b\\0\"\n"
                     "\"dw\"=dword:0000abcd\n"
                     "\"bin\"=hex:01,02,\\\n  ff,\\\r\n  7\r\n"
                     "\"qw\"=hex(b):01,00,00,00,00,00,00,00\n"
                     "\"empty\"=hex(1):\n"
                     "\"hexsz\"=hex(1):61,00,e9,00,00,00\n"
                     "\"unterminated\"=hex(2):61,00,62\n"
                     "\"bad\"=qword:1\n";
  WineKey key;
  ASSERT_TRUE(LookupWineKey(Opener(text), "k", &key));
  uint32_t type = 0;
  EXPECT_EQ(std::string("def\0", 4), Get(key, "", &type));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(std::string("abc\0", 4), Get(key, "SZ", &type));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(std::string("%WINDIR%\\x\0", 11), Get(key, "exp", &type));
  EXPECT_EQ(kRegExpandSz, type);
  EXPECT_EQ(std::string("a\0b\0\0", 5), Get(key, "multi", &type));
  EXPECT_EQ(kRegMultiSz, type);
  EXPECT_EQ(std::string("\xcd\xab\0\0", 4), Get(key, "dw", &type));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(std::string("\x01\x02\xff\x07", 4), Get(key, "bin", &type));
  EXPECT_EQ(kRegBinary, type);
  EXPECT_EQ(std::string("\x01\0\0\0\0\0\0\0", 8), Get(key, "qw", &type));
  EXPECT_EQ(0xbu, type);
  EXPECT_EQ("", Get(key, "empty", &type));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(std::string("a\xc3\xa9\0", 4), Get(key, "hexsz"));
  EXPECT_EQ("a", Get(key, "unterminated"));
  EXPECT_EQ("<missing>", Get(key, "bad"));
  EXPECT_EQ("<missing>", Get(key, "nothing"));
}

TEST(WineRegistryTest, SizeLimits) {
  std::string text = Prefix("") + "[K] 1\n" + "\"499\"=\"" +
                     std::string(499, 'x') + "\"\n" + "\"500\"=\"" +
                     std::string(500, 'x') + "\"\n" + "\"kept\"=\"" +
                     std::string(32767, 'x') + "\"\n" + "\"dropped\"=\"" +
                     std::string(32768, 'x') + "\"\n";
  WineKey key;
  ASSERT_TRUE(LookupWineKey(Opener(text), "K", &key));
  char buf[501];
  uint32_t size = 500;
  EXPECT_EQ(kRegOk, QueryWineValue(key, "499", nullptr, buf, &size, &g_utf8));
  EXPECT_EQ(500u, size);
  EXPECT_EQ(std::string(499, 'x') + '\0', std::string(buf, size));
  size = 500;
  EXPECT_EQ(kRegMoreData,
            QueryWineValue(key, "500", nullptr, buf, &size, &g_utf8));
  size = 501;
  EXPECT_EQ(kRegOk, QueryWineValue(key, "500", nullptr, buf, &size, &g_utf8));
  EXPECT_EQ(501u, size);

  // Strings are kept as stored, in UTF-16: two bytes a character.
  ASSERT_EQ(4u, key.values.size());
  EXPECT_EQ(65536u, key.values[2].data.size());
  EXPECT_EQ("", key.values[3].data);
  EXPECT_EQ(65538u, key.values[3].size);
  std::vector<char> big(1 << 20);
  size = static_cast<uint32_t>(big.size());
  EXPECT_EQ(kRegMoreData, QueryWineValue(key, "dropped", nullptr, big.data(),
                                         &size, &g_utf8));
}

TEST(WineRegistryTest, StringsInTheAnsiCodePage) {
  // "Install Dir" as Wine writes C:\Jeux\Données and the like: the size is
  // that of the text in the code page, which decides the 500-byte rule.
  std::string x498(498, 'x');
  std::string text = Prefix("") + "[K] 1\n" +
                     "\"dir\"=\"C:\\\\Jeux\\\\Donn\\x00e9es\"\n" +
                     "\"jp\"=\"D:\\\\\\x65e5\\x672c\"\n" + "\"edge\"=\"" +
                     x498 + "\\x00e9\"\n" + "\"over\"=\"x" + x498 +
                     "\\x00e9\"\n" + "\"bare\"=hex(1):e9,00\n";
  WineKey key;
  ASSERT_TRUE(LookupWineKey(Opener(text), "K", &key));
  NlsCodePage nls;
  nls.pairs = {{0x93, {{0xFA, u'\u65E5'}}}, {0x96, {{0x7B, u'\u672C'}}}};
  nls.units = {{u'\u65E5', 0x93FA}, {u'\u672C', 0x967B}, {u'\u00E9', 'e'}};
  CodePage sjis;
  ASSERT_TRUE(CodePage::Parse(MakeCodePageNls(nls), &sjis));
  AnsiText cp1252 = TextIn(CodePage::Windows1252());
  AnsiText cp932 = TextIn(sjis);
  const struct {
    AnsiText* text;
    const char* name;
    uint32_t capacity;
    long result;
    uint32_t size;     // the count returned: written, or needed
    std::string data;  // the bytes at the start of the buffer
  } kCases[] = {
      {&cp1252, "dir", 500, kRegOk, 16,
       std::string("C:\\Jeux\\Donn\xE9"
                   "es\0",
                   16)},
      {&cp932, "dir", 500, kRegOk, 16, std::string("C:\\Jeux\\Donnees\0", 16)},
      {&cp1252, "jp", 500, kRegOk, 6, std::string("D:\\??\0", 6)},
      {&cp932, "jp", 500, kRegOk, 8, std::string("D:\\\x93\xFA\x96\x7B\0", 8)},
      {&cp1252, "edge", 500, kRegOk, 500, x498 + std::string("\xE9\0", 2)},
      {&g_utf8, "edge", 500, kRegMoreData, 501, ""},
      {&cp1252, "over", 500, kRegMoreData, 501, ""},
      {&cp932, "jp", 7, kRegMoreData, 8, ""},
      // Stored without a terminator: one is added when there is room.
      {&cp1252, "bare", 2, kRegOk, 1, std::string("\xE9\0", 2)},
      {&cp1252, "bare", 1, kRegOk, 1, "\xE9?"},
  };
  for (const auto& c : kCases) {
    std::string buf(c.capacity + 1, '?');
    uint32_t size = c.capacity;
    uint32_t type = 0;
    EXPECT_EQ(c.result,
              QueryWineValue(key, c.name, &type, &buf[0], &size, c.text))
        << c.name << " " << c.capacity;
    EXPECT_EQ(c.size, size) << c.name << " " << c.capacity;
    EXPECT_EQ(c.data, buf.substr(0, c.data.size())) << c.name;
    if (c.result == kRegOk) {
      EXPECT_EQ(kRegSz, type);
    }
  }
}

TEST(WineRegistryTest, DamagedFiles) {
  // Every cut of the file: no crash, and the value once its line is whole.
  std::string text = Win64();
  std::string line = "\"Install Dir\"=\"C:\\\\Games\\\\Torvane 2000\"";
  size_t whole = text.find(line) + line.size();
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    std::string value = Find(text.substr(0, cut),
                             "Software\\Quelvar\\Torvane 2000", "Install Dir");
    if (cut >= whole) {
      EXPECT_EQ("C:\\Games\\Torvane 2000", value) << cut;
    } else {
      EXPECT_TRUE(value == "<no key>" || value == "<missing>") << cut;
    }
  }

  std::string header = Prefix("");
  EXPECT_EQ("<missing>",
            Find(header + "[K] 1\n\"v\"=\"abc\n\"w\"=\"1\"\n", "K", "v"));
  EXPECT_EQ("1", Find(header + "[K] 1\n\"v\"=\"abc\n\"w\"=\"1\"\n", "K", "w"));
  EXPECT_EQ("<missing>", Find(header + "[K] 1\n\"v\"=hex:01,\\\n", "K", "v"));
  // The values of a key line without its ']' belong to no key.
  EXPECT_EQ("<no key>", Find(header + "[K 1\n\"v\"=\"1\"\n", "K", "v"));
  EXPECT_EQ("<missing>",
            Find(header + "[K] 1\n[K\\\\x 1\n\"v\"=\"1\"\n", "K", "v"));
  const char kJunk[] = "\0\xff[\"\\\n@=hex(\0):\x80\n\"w\"=\"b\0c\"\n";
  std::string junk = header + "[K] 1\n\"v\"=\"a";
  junk.append(kJunk, sizeof(kJunk) - 1);
  WineKey key;
  EXPECT_TRUE(LookupWineKey(Opener(junk), "K", &key));
  EXPECT_EQ(std::string("b\0c\0", 4), Get(key, "w"));
}

TEST(WineRegistryTest, KeyLinesAreFoundWhereverTheyFallInTheFile) {
  // '[' inside values is not a key line; blanks may lead a key line; the
  // line may straddle the reader's 64 KiB chunks.
  const std::string decoys =
      "\n[Decoy] 1\n\"v\"=\"x [Software\\\\Target] y\"\n"
      "\"w\"=\"[Software\\\\Target] 1\"\n";
  for (size_t pad = 0; pad < 48; pad += 7) {
    std::string text = Prefix("") + decoys;
    text += std::string(65536 - 24 + pad - text.size() % 65536, '\n');
    std::string found = text + " \t[Software\\\\Target] 1\n\"v\"=\"found\"\n";
    EXPECT_EQ("found", Find(found, "Software\\Target", "v")) << pad;
    std::string absent = text + "x[Software\\\\Target] 1\n\"v\"=\"no\"\n";
    EXPECT_EQ("<no key>", Find(absent, "Software\\Target", "v")) << pad;
  }
}

TEST(WineRegistryTest, ReadsOnlyUpToTheKey) {
  std::string text = Prefix("") + "[A] 1\n\"v\"=\"1\"\n";
  for (int i = 0; text.size() < (4 << 20); ++i) {
    text += "\n[B\\\\" + std::to_string(i) + "] 1\n\"v\"=hex:01,02,03\n";
  }
  size_t count = 0;
  RegistryOpener open = [&] {
    return std::make_unique<CountingInputFile>(text, &count);
  };
  WineKey key;
  ASSERT_TRUE(LookupWineKey(open, "A", &key));
  EXPECT_EQ(std::string("1\0", 2), Get(key, "v"));
  EXPECT_LE(count, 128u * 1024);
}

}  // namespace
}  // namespace patcher

namespace patcher {
namespace {

/// Key lines in the order Wine 8 wrote them, each holding "v" = its name.
const char* const kWineOrder[] = {
    "A b", "A0", "A^", "A_b", "a`", "Aa", "Ab", "Ab\\x", "AB c", "AZ", "A~",
};

/// `text` with each backslash doubled, as Wine writes names.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? "\\\\" : std::string(1, c);
  return out;
}

std::string SortedKeys(const char* parent) {
  std::string text = Prefix("");
  for (const char* name : kWineOrder) {
    std::string line = std::string(parent) + "\\" + name;
    text += "\n[" + Escaped(line) + "] 1\n\"v\"=\"" + Escaped(name) + "\"\n";
  }
  return text;
}

TEST(WineRegistryOrderTest, EveryKeyIsFoundInWineOrder) {
  // The lookup stops at the first key line that comes after the wanted key:
  // a wrong idea of Wine's order (upper-case folding, the separator as a
  // character) would stop before keys that are there.
  std::string text = SortedKeys("Software\\Zq");
  for (const char* name : kWineOrder) {
    std::string path = std::string("software\\ZQ\\") + name;
    EXPECT_EQ(name, Find(text, path, "v")) << path;
  }
  EXPECT_EQ("<no key>", Find(text, "Software\\Zq\\A", "v"));
  EXPECT_EQ("<no key>", Find(text, "Software\\Zq\\Ab\\y", "v"));
}

TEST(WineRegistryOrderTest, LookupStopsOnceItHasPassedTheKey) {
  // The wanted key, "v"="w", follows a key line that Wine's order puts
  // after it (so the lookup stops there) or not, or that does not tell.
  struct Case {
    const char* line;
    const char* want;
    bool found;
  };
  const Case cases[] = {
      {"[A\\\\D] 1", "A\\C", false},
      {"[A\\\\Bc] 1", "A\\B", false},  // a longer name comes later
      {"[A\\\\Bc] 1", "A\\B\\D", false},
      {"[A\\\\Ba] 1", "A\\B_", false},  // '_' comes before letters
      {"[A\\\\b_] 1", "A\\Ba", true},
      {"[A\\\\Ba] 1", "A\\BB\\C", true},  // a sibling that comes before
      {"[A\\\\B] 1", "A\\B\\C", true},    // below it comes later
      {"[A\\\\Caf\\x00e9] 1", "A\\Cafe", true},  // non-ASCII: no telling
      {"[A\\\\\\[x] 1", "A\\B", true},           // an escape: no telling
      {"[A\\\\B", "A\\A", true},                 // no key line
  };
  for (const Case& c : cases) {
    std::string text = Prefix("") + c.line + "\n\n[" + Escaped(c.want) +
                       "] 1\n\"v\"=\"w\"\n";
    EXPECT_EQ(c.found ? "w" : "<no key>", Find(text, c.want, "v"))
        << c.line << " " << c.want;
  }
}

TEST(WineRegistryOrderTest, MemoSkipsWhatTheFileDoesNotHold) {
  std::string text = Prefix("") + "\n[Software\\\\Other] 1\n\"v\"=\"" +
                     std::string(10000, 'o') + "\"\n" +
                     "\n[Software\\\\Quelvar\\\\Torvane 2000] 1\n\"v\"=\"t\"\n";
  size_t count = 0;
  RegistryOpener open = [&] {
    return std::make_unique<CountingInputFile>(text, &count, 4096);
  };
  WineLookupMemo memo;
  struct Step {
    const char* path;
    bool found;
    bool header_only;
  };
  const Step steps[] = {
      // Stops at Torvane 2000, which begins with Software\Quelvar too.
      {"Software\\Quelvar\\Alpha", false, false},
      {"Software\\Quelvar\\Torvane", false, false},
      {"Software\\QUELVAR\\torvane\\Sub", false, true},  // recorded above
      {"Software\\Quelvar\\Torvane 2000", true, false},
      {"Software\\Zed\\A", false, false},
      {"Software\\Zed\\B", false, true},
      {"Software\\Other", true, false},
      {"Software\\Quelvar", true, false},
  };
  for (const Step& step : steps) {
    count = 0;
    WineKey key;
    EXPECT_EQ(step.found, LookupWineKey(open, step.path, &key, &memo))
        << step.path;
    EXPECT_EQ(step.header_only, count <= 4096) << step.path << " " << count;
  }
  ASSERT_EQ(3u, memo.absent.size());
  EXPECT_EQ(std::vector<std::string>({"Software", "Quelvar", "Alpha"}),
            memo.absent[0]);
  EXPECT_EQ(std::vector<std::string>({"Software", "Quelvar", "Torvane"}),
            memo.absent[1]);
  EXPECT_EQ(std::vector<std::string>({"Software", "Zed"}), memo.absent[2]);
}

}  // namespace
}  // namespace patcher
