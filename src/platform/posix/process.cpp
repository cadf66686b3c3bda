// The running process on Linux: argument string, name, description, and
// the start-up that makes the standard handles safe to rely on.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/text.h"
#include "config.h"

namespace platform {

namespace {
std::string g_argv0;
std::vector<std::u16string> g_words;
}

void Startup(int argc, char** argv) {
  // A closed standard handle would be handed out again by the next open(),
  // and the tool's output would land in the link file it is writing.  One
  // poll tells which are closed.
  pollfd standard[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  if (poll(standard, 3, 0) >= 0) {
    for (const pollfd& p : standard) {
      if ((p.revents & POLLNVAL) == 0) continue;
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != p.fd) {
        dup2(null, p.fd);
        close(null);
      }
    }
  }
  // A reader that went away must not kill the run half-way.
  signal(SIGPIPE, SIG_IGN);
  if (argc > 0 && argv[0] != nullptr) g_argv0 = argv[0];
  // A byte that is not UTF-8 becomes a lone surrogate (U+DC80 + byte), as
  // Python's surrogateescape does, not U+FFFD: a name holding one can then
  // be printed but never handed to the system, so it cannot end up naming
  // some other file that really holds U+FFFD.
  for (int i = 1; i < argc; ++i) g_words.push_back(posix::Utf8ToUtf16(argv[i], true));
}

std::u16string RawArgumentString() { return JoinArgumentWords(g_words); }

bool ArgumentWords(std::vector<std::u16string>& words) {
  words = g_words;
  return true;
}

std::u16string ExecutableBaseName() {
  // The command as it was run: a symbolic link named "foo" is FOO in the
  // usage text, as the name a user typed.  Only a process started without
  // a name asks the system for its file, where the system can tell.
  std::string path = g_argv0;
#ifdef __linux__
  if (path.empty()) {
    path.assign(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
#endif
  std::string name = path.substr(path.rfind('/') + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
  return FromAnsi(name);
}

std::u16string FileDescription() { return FromAnsi(MKLNK_FILE_DESCRIPTION); }

std::u16string ProductVersion() { return FromAnsi(MKLNK_VERSION_STRING); }

bool AnswersLongOptions() { return true; }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(getpid()); }

namespace {
sigset_t g_before;
int g_deferred = 0;  // DeferInterrupts not yet matched
}

// Held back by blocking them: a signal that comes meanwhile stays pending
// and takes effect, with its default action, when the mask is put back.
void DeferInterrupts() {
  if (g_deferred++ > 0) return;
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  sigaddset(&interrupts, SIGHUP);
  sigprocmask(SIG_BLOCK, &interrupts, &g_before);
}

void AllowInterrupts() {
  if (g_deferred == 0 || --g_deferred > 0) return;
  sigprocmask(SIG_SETMASK, &g_before, nullptr);
}

// ---- reading a list of command lines ----------------------------------------

bool ReadWouldWait(Handle handle) {
  if (handle < 0 || handle > INT_MAX) return false;
  pollfd p{static_cast<int>(handle), POLLIN, 0};
  // A file is always ready; a pipe or terminal only with something in it
  // (or at its end).
  return poll(&p, 1, 0) == 0;
}

bool IsTerminal(Handle handle) { return handle >= 0 && handle <= INT_MAX && isatty(static_cast<int>(handle)) == 1; }

std::uint64_t Milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace platform
