// The names a run gives the temporaries it writes beside their destinations,
// `.<name>.patcher-XXXXXX`, the same on both builds, so that either one knows
// what the other left behind. Pure text.

#ifndef PATCHER_TEXT_TEMPORARY_NAME_H_
#define PATCHER_TEXT_TEMPORARY_NAME_H_

#include <cstdint>
#include <string>

namespace patcher {

/// Returns the name of a temporary for a file named `name`: `.`, the first
/// 200 bytes of `name` (so that it stays within the 255 a name may have),
/// `.patcher-` and six letters or digits drawn from `random`.
std::string TemporaryName(const std::string& name, uint64_t random);

/// Tells whether `name` is one that TemporaryName gives: `.`, a name,
/// `.patcher-`, six letters or digits.
bool IsTemporaryName(const std::string& name);

}  // namespace patcher

#endif  // PATCHER_TEXT_TEMPORARY_NAME_H_
