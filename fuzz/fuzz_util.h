#ifndef PATCHER_FUZZ_FUZZ_UTIL_H_
#define PATCHER_FUZZ_FUZZ_UTIL_H_

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

/// Aborts with the failed condition, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                 \
    }                                                                          \
  } while (0)

namespace patcher {

/// Hands out its bytes at most `chunk` at a time, so that every token can
/// meet a buffer boundary, and fails with -1 instead of the end of the data
/// when `error_at_end` is set.
class ChunkedFile : public InputFile {
 public:
  ChunkedFile(const std::string& data, size_t chunk, bool error_at_end = false)
      : data_(data), chunk_(chunk), error_at_end_(error_at_end) {}
  long Read(char* buf, size_t size) override {
    size_t n = std::min({size, chunk_, data_.size() - pos_});
    if (n == 0) return error_at_end_ ? -1 : 0;
    memcpy(buf, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }

 private:
  const std::string& data_;
  size_t chunk_;
  bool error_at_end_;
  size_t pos_ = 0;
};

}  // namespace patcher

#endif  // PATCHER_FUZZ_FUZZ_UTIL_H_
