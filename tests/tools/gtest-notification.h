// Forced into every googletest compilation of the Windows build.
//
// The mingw-w64 compilers of the win32 thread model (the ones that keep
// mklnk.exe small and free of a pthreads runtime) have no std::mutex or
// std::condition_variable, and googletest's little Notification helper is
// the only thing in it that needs them.  It serves googletest's own thread
// tests, which we never run; this stand-in keeps the contract with a flag.
#pragma once

#include <atomic>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
