// The kernel32 calls of platform.h on Linux.
//
// Paths come in as the user typed them, in Windows form and UTF-8 (our ANSI
// code page here), and are mapped by winpath.h.  Where Linux and Windows
// differ, Windows wins as far as a tool user can tell:
//  - "read-only" is the owner's write bit, and it is honoured even when we
//    run as root, who could write anyway: DeleteFileA and CreateEmptyFileA
//    refuse a read-only file, as Windows answers "access denied";
//  - nothing ever acts through a symbolic link on the link's target except
//    FindFirstFileA, which reports what the link leads to; the attribute
//    query reports the link itself, as Windows does (a reparse point, a
//    folder when it leads to one); a link is deleted, renamed and
//    truncated-refused as itself, and SetFileAttributesA leaves a link
//    alone and succeeds (Linux has no permissions of a link to change);
//  - names beginning with '.' carry the hidden bit, as Wine shows them;
//  - a name not on disk as written is looked up in another letter case, as
//    Wine does (winpath.h), after the call on the name as written failed.
//
// This file is divided into: helpers for modes; the kernel calls, in the
// order of platform.h; the last error and its words.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "config.h"
#include "platform/platform.h"
#include "platform/posix/attributes.h"
#include "platform/posix/winpath.h"

namespace platform {

namespace {

bool EndsInSeparator(std::string_view p) { return !p.empty() && (p.back() == '\\' || p.back() == '/'); }

// LastComponent takes '/' as a separator, and a Linux path has no drive.
std::uint32_t AttributesOf(const struct stat& st, std::string_view unixPath) {
  return posix::AttributesFromMode(st.st_mode, posix::LastComponent(unixPath));
}

constexpr mode_t kAllWrite = S_IWUSR | S_IWGRP | S_IWOTH;

mode_t ModeFor(mode_t mode, std::uint32_t attributes) {
  mode &= 07777;
  return (attributes & kAttrReadOnly) ? (mode & ~kAllWrite) : (mode | S_IWUSR);
}

// Sets the permission bits of the file itself (of type `type`, as lstat
// saw it), never of what a link at that place would lead to.
bool ChangeMode(const std::string& path, mode_t type, std::uint32_t attributes) {
  if (S_ISREG(type) || S_ISDIR(type)) {
    // Through a descriptor: what we look at is what we change.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
      struct stat st;
      bool ok = fstat(fd, &st) == 0;
      if (ok) {
        const mode_t wanted = ModeFor(st.st_mode, attributes);
        ok = wanted == (st.st_mode & 07777) || fchmod(fd, wanted) == 0;
      }
      close(fd);
      return ok;
    }
    if (errno == ELOOP) return true;  // a link came in meanwhile: leave it alone
  }
  // Not readable by us, or a pipe or device we had better not open: change
  // it by name, still refusing a link.
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return true;
  const mode_t wanted = ModeFor(st.st_mode, attributes);
  return wanted == (st.st_mode & 07777) || fchmodat(AT_FDCWD, path.c_str(), wanted, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

// ---- kernel calls -------------------------------------------------------------

Handle GetStdHandle(std::int32_t which) {
  switch (which) {
    case -10: return 0;
    case -11: return 1;
    case -12: return 2;
    default: return kInvalidHandle;
  }
}

bool WriteFile(Handle handle, const std::string& bytes) {
  if (handle < 0 || handle > INT_MAX) return false;
  const int fd = static_cast<int>(handle);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  // A pipe or terminal may take fewer bytes than asked: go on until all are
  // out, as one WriteFile on Windows does.
  while (left > 0) {
    const std::size_t chunk = left < (std::size_t{1} << 30) ? left : (std::size_t{1} << 30);
    const ssize_t n = write(fd, p, chunk);
    if (n > 0) {
      p += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Someone handed us a non-blocking descriptor: wait until it drains.
      pollfd pfd{fd, POLLOUT, 0};
      if (poll(&pfd, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    return false;
  }
  return true;
}

Handle FindFirstFileA(const std::string& pattern, FindData& data) {
  // A pattern ending in a separator asks for an empty name, and a bare "C:"
  // for none: Windows finds nothing for either.  '*' and '?' are ordinary
  // characters in Linux names, and the name is looked up as it stands.
  if (pattern.empty() || EndsInSeparator(pattern) || posix::LastComponent(pattern).empty()) return kInvalidHandle;
  std::optional<std::string> path = posix::ToUnixPath(pattern);
  struct stat st;
  if (!path || !posix::OnDisk(*path, [&](const char* p) { return stat(p, &st) == 0; })) return kInvalidHandle;
  data.attributes = AttributesOf(st, *path);
  // We keep no open search: every handle is the same token.
  return 1;
}

std::int32_t FindClose(Handle search) { return search > 0 ? 1 : 0; }

std::uint32_t GetFileAttributesA(const std::string& path) {
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  struct stat st;
  if (!unixPath || !posix::OnDisk(*unixPath, [&](const char* p) { return lstat(p, &st) == 0; })) {
    return kInvalidFileAttributes;
  }
  if (!S_ISLNK(st.st_mode)) return AttributesOf(st, *unixPath);
  // The link itself, as Windows reports a symbolic link: a reparse point,
  // a folder when it leads to one, hidden by its name.
  struct stat to;
  const bool folder = stat(unixPath->c_str(), &to) == 0 && S_ISDIR(to.st_mode);
  return (AttributesOf(st, *unixPath) & ~kAttrNormal) | kAttrReparsePoint | (folder ? kAttrDirectory : 0);
}

std::int32_t SetFileAttributesA(const std::string& path, std::uint32_t attributes) {
  const std::optional<std::string> unixPath = posix::ToUnixPath(path);
  if (!unixPath) return 0;
  // "link\" would lead the system through the link: look at the name bare.
  std::string plain = *unixPath;
  while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
  struct stat st;
  if (!posix::OnDisk(plain, [&](const char* p) { return lstat(p, &st) == 0; })) return 0;
  if (S_ISLNK(st.st_mode)) return 1;
  const std::string named = plain.size() < unixPath->size() ? plain + "/" : plain;
  if (lstat(named.c_str(), &st) != 0) return 0;
  return ChangeMode(named, st.st_mode, attributes) ? 1 : 0;
}

std::int32_t DeleteFileA(const std::string& path) {
  // A name ending in a separator is a folder's name, and folders are not
  // DeleteFile's to remove.
  if (EndsInSeparator(path)) return 0;
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  struct stat st;
  if (!unixPath || !posix::OnDisk(*unixPath, [&](const char* p) { return lstat(p, &st) == 0; })) return 0;
  if (S_ISDIR(st.st_mode)) return 0;
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return 0;
  // unlink() removes a link itself and never a directory.
  posix::ForgetListings();
  return unlink(unixPath->c_str()) == 0 ? 1 : 0;
}

std::uint32_t GetCurrentDirectoryA(std::uint32_t length, char* buffer) {
  const std::optional<std::string> cwd = posix::CurrentDirectoryWindows();
  if (!cwd || cwd->size() >= UINT32_MAX) return 0;
  const auto needed = static_cast<std::uint32_t>(cwd->size() + 1);
  if (buffer == nullptr || length < needed) return needed;
  std::memcpy(buffer, cwd->data(), cwd->size());
  buffer[cwd->size()] = '\0';
  return needed - 1;
}

std::int32_t CreateEmptyFileA(const std::string& path) {
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  if (!unixPath) return 0;
  constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  posix::ForgetListings();
  // Mostly nothing is there, and a file made new is plain and writable.
  int fd = -1;
  posix::OnDisk(*unixPath, [&](const char* p) { return (fd = open(p, kFlags | O_EXCL, 0666)) >= 0; });
  if (fd < 0) {
    if (errno != EEXIST) return 0;
    // Only a plain, writable file may be cut to nothing; never a link's
    // target, a folder, a device or a pipe.
    struct stat st;
    if (lstat(unixPath->c_str(), &st) != 0) return 0;
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
      return 0;
    }
    fd = open(unixPath->c_str(), kFlags | O_TRUNC, 0666);
    if (fd < 0) return 0;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      errno = EACCES;
      return 0;
    }
  }
  if (close(fd) != 0) return 0;
  errno = 0;
  return 1;
}

namespace {

// A rename that never replaces what is there.
bool RenameNoReplace(const std::string& src, const std::string& dst) {
#if MKLNK_HAVE_RENAMEAT2
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
#else
  // A second name that the system refuses to put over an existing one, then
  // the first name gone.
  if (linkat(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), 0) == 0) {
    if (unlink(src.c_str()) == 0) return true;
    const int error = errno;
    unlink(dst.c_str());
    errno = error;
    return false;
  }
  if (errno == EEXIST || errno == ENOENT || errno == ENOTDIR) return false;
#endif
  // The file system cannot refuse to replace by itself (or has no second
  // names): look first.
  struct stat st;
  if (lstat(dst.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  if (errno != ENOENT) return false;
  return rename(src.c_str(), dst.c_str()) == 0;
}

}  // namespace

std::int32_t MoveFileA(const std::string& from, const std::string& to) {
  const std::optional<std::string> src = posix::ToUnixPath(from);
  const std::optional<std::string> dst = posix::ToUnixPath(to);
  if (!src || !dst) return 0;
  posix::ForgetListings();
  if (RenameNoReplace(*src, *dst)) return 1;
  if (errno != ENOENT && errno != ENOTDIR) return 0;
  // No such name as written: the names as Wine's lookup finds them.
  const std::string matchedSrc = posix::MatchPath(*src);
  const std::string matchedDst = posix::MatchPath(*dst);
  if (matchedSrc == *src && matchedDst == *dst) return 0;
  return RenameNoReplace(matchedSrc, matchedDst) ? 1 : 0;
}

std::string GetFullPathNameA(const std::string& path) { return posix::FullWindowsPath(path); }

std::optional<FileId> GetFileIdA(const std::string& path, bool follow) {
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  struct stat st;
  const auto look = [&](const char* p) { return (follow ? stat(p, &st) : lstat(p, &st)) == 0; };
  if (!unixPath || !posix::OnDisk(*unixPath, look)) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// ---- the last error ---------------------------------------------------------------

std::uint32_t GetLastError() { return static_cast<std::uint32_t>(errno); }

void SetLastError(std::uint32_t code) { errno = static_cast<int>(code); }

std::u16string ErrorMessage(std::uint32_t code) { return FromAnsi(std::strerror(static_cast<int>(code))); }

}  // namespace platform
