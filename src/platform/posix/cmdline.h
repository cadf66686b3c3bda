// The raw argument string of a Linux process: argv[1..] joined by single
// spaces, an argument wrapped in double quotes when it is empty or holds a
// space and no double quote, the way a Windows command line would carry it.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

inline std::string JoinArguments(const std::vector<std::string>& args) {
  std::string raw;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) raw += ' ';
    const std::string& a = args[i];
    const bool quote = a.empty() || (a.find(' ') != std::string::npos && a.find('"') == std::string::npos);
    if (quote) raw += '"';
    raw += a;
    if (quote) raw += '"';
  }
  return raw;
}

}  // namespace platform::posix
