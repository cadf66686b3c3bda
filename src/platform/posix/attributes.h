// Windows attribute bits for a Linux file, the way Wine shows them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string_view>

namespace platform::posix {

// For a file of mode `mode` (st_mode) and name `name`: 0x10 for a
// directory, 0x01 when the owner may not write, 0x02 for a name beginning
// with '.' (Wine's convention for hidden files; "." and ".." excepted), and
// 0x80 alone when none of these applies.
inline std::uint32_t AttributesFromMode(unsigned mode, std::string_view name) {
  std::uint32_t attributes = 0;
  if (S_ISDIR(mode)) attributes |= 0x10;
  if ((mode & S_IWUSR) == 0) attributes |= 0x01;
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= 0x02;
  return attributes == 0 ? 0x80 : attributes;
}

}  // namespace platform::posix
