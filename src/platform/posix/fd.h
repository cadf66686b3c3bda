// A file descriptor that closes itself, and a folder opened to look into.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace platform::posix {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// A folder, by a descriptor that needs no read permission where the system
// has such descriptors (O_PATH); -1 when it cannot be opened.
inline int OpenFolder(int at, const char* name) {
#ifdef O_PATH
  return openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

}  // namespace platform::posix
