// Tests of attributes as Wine shows and sets them, and of opening files.

#include "wine/host_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "test_util.h"

namespace patcher {
namespace {

std::string Strerror(int err) { return strerror(err); }

class HostFileTest : public testing::Test, public ScratchDir {};

TEST_F(HostFileTest, AttributesAsWineShowsThem) {
  Write("plain", "");
  Write("readonly", "", 0444);
  Write("owner_readonly", "", 0400);
  Write(".hidden", "", 0444);
  MakeDir("dir");
  MakeDir("readonly_dir", 0555);
  ASSERT_EQ(symlink("readonly", Path("link").c_str()), 0);
  ASSERT_EQ(symlink("missing", Path("dangling").c_str()), 0);
  const struct {
    const char* name;
    uint32_t attributes;
  } kCases[] = {
      {"plain", 0x20},
      {"readonly", 0x21},
      {"owner_readonly", 0x21},
      {".hidden", 0x23},
      {"dir", 0x10},
      {"readonly_dir", 0x11},
      {"link", 0x20},
      {"dangling", 0x20},
      {"missing", kInvalidAttributes},
      {"missing/x", kInvalidAttributes},
      {"plain/x", kInvalidAttributes},
      {".", 0x10},
      {"dir/..", 0x10},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(HostAttributes(Path(c.name)), c.attributes) << c.name;
}

TEST_F(HostFileTest, SetAttributesChangesWritePermissionAsWine) {
  const struct {
    mode_t before;
    uint32_t attributes;
    mode_t after;
  } kCases[] = {
      {0444, 0, 0644},    {0400, 0, 0600},   {0440, 0, 0640},
      {0404, 0, 0604},    {0644, 0x1, 0444}, {0660, 0x21, 0440},
      {0644, 0x22, 0644}, {0460, 0, 0460},
  };
  std::string error;
  for (const auto& c : kCases) {
    Write("file", "", c.before);
    EXPECT_TRUE(SetHostAttributes(Path("file"), c.attributes, &error));
    EXPECT_EQ(Lstat("file").st_mode & 07777, c.after)
        << std::oct << c.before << " " << c.attributes;
  }

  Write("file", "", 0640);
  ASSERT_EQ(symlink("file", Path("link").c_str()), 0);
  EXPECT_TRUE(SetHostAttributes(Path("link"), kAttributeReadOnly, &error));
  EXPECT_EQ(Lstat("file").st_mode & 07777, 0640u);

  EXPECT_FALSE(SetHostAttributes(Path("missing"), 0, &error));
  EXPECT_EQ(error, "lstat(" + Path("missing") + "): " + Strerror(ENOENT));
}

TEST_F(HostFileTest, OpenHostFileReadsFilesOnly) {
  std::string data(200000, 'x');
  for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<char>(i);
  Write("file", data, 0444);
  std::unique_ptr<InputFile> file = OpenHostFile(Path("file"), nullptr);
  ASSERT_NE(file, nullptr);
  std::string read;
  char buf[4096];
  long n;
  while ((n = file->Read(buf, sizeof buf)) > 0) read.append(buf, n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(read, data);

  MakeDir("dir");
  std::string error;
  EXPECT_EQ(OpenHostFile(Path("dir"), &error), nullptr);
  EXPECT_EQ(error, "read(" + Path("dir") + "): " + Strerror(EISDIR));
  EXPECT_EQ(OpenHostFile(Path("missing"), &error), nullptr);
  EXPECT_EQ(error, "open(" + Path("missing") + "): " + Strerror(ENOENT));
}

}  // namespace
}  // namespace patcher
