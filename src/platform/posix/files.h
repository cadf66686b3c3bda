// Writing a file's bytes: the one loop the posix layer writes with.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace platform::posix {

// Writes all of `bytes` to `fd` (again after an interrupted or short
// write) and closes it; a close can report a failed write-back (NFS), so
// its failure counts too.  0, or the errno of the first failure.
inline int WriteAndClose(int fd, std::string_view bytes) {
  int error = 0;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace platform::posix
