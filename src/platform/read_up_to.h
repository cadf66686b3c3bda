// The one loop both systems read a whole file with, over their own read
// call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The bytes of an open plain file, `size` long when it was looked at, at
// most `most` of them: one byte more is asked for, to see whether it grew
// (`cut`).  `read(into, count)` answers the bytes it read, 0 at the end,
// or a negative number when it fails; a read that answers less than asked
// for is at the end of a plain file.  False when a read fails (no bytes
// then, the system's reason where `read` left it).
template <class Read>
bool ReadUpTo(Read&& read, std::uint64_t size, std::size_t most, std::string& bytes, bool& cut) {
  bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, most)) + 1);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t asked = bytes.size() - got;
    const long long n = read(bytes.data() + got, asked);
    if (n < 0) {
      bytes.clear();
      return false;
    }
    got += static_cast<std::size_t>(n);
    if (static_cast<std::size_t>(n) < asked) break;
  }
  cut = got > most;
  bytes.resize(std::min(got, most));
  return true;
}

}  // namespace platform
