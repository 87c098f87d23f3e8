// The user's home folder read from the text of /etc/passwd.

#include "linux/passwd.h"

#include <string>
#include <vector>

namespace patcher {

std::string HomeFromPasswd(const std::string& passwd, unsigned long uid) {
  const std::string wanted = std::to_string(uid);
  for (size_t start = 0; start < passwd.size();) {
    size_t end = passwd.find('\n', start);
    if (end == std::string::npos) end = passwd.size();
    std::string line = passwd.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    size_t at = 0;
    for (size_t colon; (colon = line.find(':', at)) != std::string::npos;
         at = colon + 1)
      fields.push_back(line.substr(at, colon - at));
    fields.push_back(line.substr(at));
    if (fields.size() >= 6 && fields[2] == wanted) return fields[5];
  }
  return std::string();
}

}  // namespace patcher
