// The user's home folder as /etc/passwd gives it.

#ifndef PATCHER_LINUX_PASSWD_H_
#define PATCHER_LINUX_PASSWD_H_

#include <string>

namespace patcher {

/// Returns the home folder of user `uid` as `passwd`, the text of
/// /etc/passwd, gives it (the sixth field of the first line whose third field
/// is `uid`; lines starting with "#" are comments). Returns the empty text when
/// no line names `uid`.
std::string HomeFromPasswd(const std::string& passwd, unsigned long uid);

}  // namespace patcher

#endif  // PATCHER_LINUX_PASSWD_H_
