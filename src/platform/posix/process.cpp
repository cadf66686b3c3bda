// The running process on Linux: argument string, name, description, and
// the start-up that makes the standard handles safe to rely on.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/cmdline.h"
#include "version.h"

namespace platform {

namespace {
std::string g_argv0;
std::vector<std::string> g_args;
}

void Startup(int argc, char** argv) {
  // A closed standard handle would be handed out again by the next open(),
  // and the tool's output would land in the link file it is writing.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1) {
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
      }
    }
  }
  // A reader that went away must not kill the run half-way.
  signal(SIGPIPE, SIG_IGN);
  if (argc > 0 && argv[0] != nullptr) g_argv0 = argv[0];
  for (int i = 1; i < argc; ++i) g_args.emplace_back(argv[i]);
}

namespace {

// The length of the well-formed UTF-8 sequence that starts at `i`, or 0.
std::size_t Utf8SequenceAt(const std::string& s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

std::u16string RawArgumentString() {
  // A byte that is not UTF-8 becomes a lone surrogate (U+DC80 + byte), as
  // Python's surrogateescape does, not U+FFFD: a name holding one can then
  // be printed but never handed to the system, so it cannot end up naming
  // some other file that really holds U+FFFD.
  const std::string raw = posix::JoinArguments(g_args);
  std::u16string out;
  out.reserve(raw.size());
  std::size_t run = 0;  // start of the pending well-formed bytes
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t len = Utf8SequenceAt(raw, i);
    if (len > 0) {
      i += len;
      continue;
    }
    out += FromAnsi(std::string_view(raw).substr(run, i - run));
    out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(raw[i]));
    run = ++i;
  }
  out += FromAnsi(std::string_view(raw).substr(run));
  return out;
}

std::u16string ExecutableBaseName() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (path.empty()) path = g_argv0;
  std::string name = path.substr(path.rfind('/') + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
  return FromAnsi(name);
}

std::u16string FileDescription() { return FromAnsi(MKLNK_FILE_DESCRIPTION); }

}  // namespace platform
