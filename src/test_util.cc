// What tests and fuzz targets share: the platform in memory, files in memory,
// scratch folders.

#include "test_util.h"

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "list/patch_list.h"

namespace patcher {

ScratchDir::ScratchDir() {
  umask(022);
  char cwd[PATH_MAX];
  EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
  cwd_ = cwd;
  char root[] = "/tmp/patcher-test-XXXXXX";
  EXPECT_NE(mkdtemp(root), nullptr);
  root_ = root;
}

ScratchDir::~ScratchDir() {
  EXPECT_EQ(chdir(cwd_.c_str()), 0);
  // Make every directory writable first, then remove children first.
  nftw(
      root_.c_str(),
      [](const char* path, const struct stat* st, int, FTW*) {
        if (S_ISDIR(st->st_mode)) chmod(path, 0700);
        return 0;
      },
      16, FTW_PHYS);
  nftw(
      root_.c_str(),
      [](const char* path, const struct stat*, int, FTW*) {
        return remove(path);
      },
      16, FTW_PHYS | FTW_DEPTH);
}

std::string ScratchDir::Path(const std::string& rel) const {
  return root_ + "/" + rel;
}

void ScratchDir::MakeDir(const std::string& rel, mode_t mode) {
  EXPECT_EQ(mkdir(Path(rel).c_str(), 0700), 0) << rel;
  EXPECT_EQ(chmod(Path(rel).c_str(), mode), 0) << rel;
}

void ScratchDir::Write(const std::string& rel, const std::string& data,
                       mode_t mode) {
  unlink(Path(rel).c_str());
  std::ofstream(Path(rel), std::ios::binary) << data;
  EXPECT_EQ(chmod(Path(rel).c_str(), mode), 0) << rel;
}

std::string ScratchDir::Read(const std::string& rel) const {
  std::ostringstream data;
  data << std::ifstream(Path(rel), std::ios::binary).rdbuf();
  return data.str();
}

struct stat ScratchDir::Lstat(const std::string& rel) const {
  struct stat st = {};
  EXPECT_EQ(lstat(Path(rel).c_str(), &st), 0) << rel;
  return st;
}

std::vector<std::string> ScratchDir::Names(const std::string& rel) const {
  std::vector<std::string> names;
  if (DIR* d = opendir(Path(rel).c_str())) {
    while (const dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
        names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class FakePlatform::FakeKey : public RegistryKey {
 public:
  FakeKey(FakePlatform* platform, std::string name)
      : platform_(platform), name_(std::move(name)) {}
  ~FakeKey() override { platform_->registry_log_.push_back("close " + name_); }

  long Query(const char* name, uint32_t* type, char* data,
             uint32_t* size) override {
    platform_->registry_log_.push_back("query " + name_ + "|" + name);
    const std::map<std::string, Value>& values = platform_->keys_[name_];
    auto it = values.find(name);
    if (it == values.end()) return kRegNotFound;
    if (it->second.data.size() > *size) return kRegMoreData;
    memcpy(data, it->second.data.data(), it->second.data.size());
    *size = static_cast<uint32_t>(it->second.data.size());
    if (type) *type = it->second.type;
    return kRegOk;
  }

 private:
  FakePlatform* platform_;
  std::string name_;
};

void FakePlatform::AddString(const std::string& key, const std::string& name,
                             const std::string& text) {
  AddValue(key, name, kRegSz, text + '\0');
}

void FakePlatform::AddValue(const std::string& key, const std::string& name,
                            uint32_t type, const std::string& data) {
  keys_[key][name] = Value{type, data};
}

std::unique_ptr<RegistryKey> FakePlatform::OpenKey(const char* subkey) {
  if (!keys_.count(subkey)) {
    registry_log_.push_back(std::string("missing ") + subkey);
    return nullptr;
  }
  registry_log_.push_back(std::string("open ") + subkey);
  return std::unique_ptr<RegistryKey>(new FakeKey(this, subkey));
}

int FakePlatform::ShowBox(const char* text, const char* caption, BoxType type) {
  boxes_.push_back(Box{caption, text, type});
  if (type != kBoxYesNo) return kAnswerOk;
  if (answers_.empty()) return kAnswerNo;
  int answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}

bool FakePlatform::ConfirmGameClosed() {
  return !game_running_ ||
         ShowBox(kGameRunningText, "Warning", kBoxYesNo) == kAnswerYes;
}

uint32_t FakePlatform::ReadAttributes(const char* path) {
  auto it = attributes_.find(path);
  if (it != attributes_.end()) return it->second;
  return files_.count(path) ? kAttributeArchive : kInvalidAttributes;
}

bool FakePlatform::WriteAttributes(const char* path, uint32_t attributes) {
  attributes_set_.emplace_back(path, attributes);
  if (!files_.count(path)) return false;
  attributes_[path] = attributes;
  return true;
}

std::unique_ptr<InputFile> FakePlatform::OpenForReading(const char* path,
                                                        std::string* error) {
  opened_.push_back(path);
  bool refused = strcmp(path, kListName) == 0 && fail_opens_after_ >= 0 &&
                 list_opens_++ >= fail_opens_after_;
  auto it = files_.find(path);
  if (refused || it == files_.end()) {
    if (error) *error = std::string("open(") + path + "): not found";
    return nullptr;
  }
  return std::unique_ptr<InputFile>(new MemoryInputFile(it->second));
}

bool FakePlatform::CopyOver(const char* source, const char* dest,
                            std::string* error) {
  copy_calls_.push_back(std::string("copy ") + source + " -> " + dest);
  auto it = files_.find(source);
  if (it == files_.end() || fail_copy_to_.count(dest) ||
      (ReadAttributes(dest) != kInvalidAttributes &&
       (ReadAttributes(dest) & kAttributeReadOnly))) {
    *error = std::string("copy(") + dest + "): refused";
    return false;
  }
  files_[dest] = it->second;
  copies_.emplace_back(source, dest);
  return true;
}

void FakePlatform::AnnounceCopy(const char* source, const char* dest) {
  copy_calls_.push_back(std::string("announce ") + source + " -> " + dest);
}

void FakePlatform::PlanCopy(const char* source) { planned_.push_back(source); }

void FakePlatform::HoldInstallDir(const char* install_dir) {
  held_.push_back(std::string(install_dir) + " after " +
                  std::to_string(boxes_.size()) + " boxes");
}

std::vector<std::string> BoxLines(const FakePlatform& platform) {
  std::vector<std::string> lines;
  for (const FakePlatform::Box& box : platform.boxes_)
    lines.push_back(box.caption + "|" + box.text);
  return lines;
}

}  // namespace patcher
