#ifndef PATCHER_TEST_UTIL_H_
#define PATCHER_TEST_UTIL_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace patcher {

/// A Platform that keeps files, attributes and registry keys in memory,
/// answers Yes/No boxes as told, fails where told and records what was done
/// to it. Paths and key names are compared exactly as given.
class FakePlatform : public Platform {
 public:
  struct Value {
    uint32_t type;
    std::string data;
  };
  struct Box {
    std::string caption;
    std::string text;
    BoxType type;
  };

  /// Adds a REG_SZ value stored with its terminator, creating the key.
  void AddString(const std::string& key, const std::string& name,
                 const std::string& text);
  /// Adds a value of any type with exactly `data` stored.
  void AddValue(const std::string& key, const std::string& name, uint32_t type,
                const std::string& data);

  std::unique_ptr<RegistryKey> OpenKey(const char* subkey) override;
  int ShowBox(const char* text, const char* caption, BoxType type) override;
  uint32_t ReadAttributes(const char* path) override;
  bool WriteAttributes(const char* path, uint32_t attributes) override;
  std::unique_ptr<InputFile> OpenForReading(const char* path) override;
  bool CopyOver(const char* source, const char* dest,
                std::string* error) override;
  void AnnounceCopy(const char* source, const char* dest) override;

  // What the test sets up.
  std::map<std::string, std::string> files_;    // path -> contents
  std::map<std::string, uint32_t> attributes_;  // absent: archive, or invalid
  std::map<std::string, std::map<std::string, Value>> keys_;
  std::vector<int> answers_;            // Yes/No answers in order; then No
  std::set<std::string> fail_copy_to_;  // destinations whose copy fails
  int fail_opens_after_ = -1;  // opens of the list after which it fails

  // What happened.
  std::vector<Box> boxes_;
  std::vector<std::string> registry_log_;  // "open K", "query K\\V", ...
  std::vector<std::string> opened_;        // every OpenForReading path
  std::vector<std::pair<std::string, uint32_t>> attributes_set_;
  std::vector<std::pair<std::string, std::string>> copies_;  // source, dest
  // Every AnnounceCopy and CopyOver in call order: "announce S -> D",
  // "copy S -> D".
  std::vector<std::string> copy_calls_;

 private:
  class FakeKey;
  int list_opens_ = 0;
};

/// Returns a FakePlatform's boxes as "caption|text" lines, for compact
/// expectations.
std::vector<std::string> BoxLines(const FakePlatform& platform);

}  // namespace patcher

#endif  // PATCHER_TEST_UTIL_H_
