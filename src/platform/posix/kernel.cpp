// The kernel32 calls of platform.h on Linux.
//
// Paths come in as the user typed them, in Windows form and UTF-8 (our ANSI
// code page here), and are mapped by winpath.h.  Where Linux and Windows
// differ, Windows wins as far as a tool user can tell:
//  - "read-only" is the owner's write bit;
//  - nothing ever acts through a symbolic link on the link's target except
//    FindFirstFileA, which reports what the link leads to; the attribute
//    query reports the link itself, as Windows does (a reparse point, a
//    folder when it leads to one); a link is removed and renamed as itself;
//  - names beginning with '.' carry the hidden bit, as Wine shows them;
//  - a name not on disk as written is looked up in another letter case, as
//    Wine does (winpath.h), after the call on the name as written failed.
//
// This file is divided into: helpers; the kernel calls, in the
// order of platform.h; the last error and its words.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config.h"
#include "platform/platform.h"
#include "platform/read_up_to.h"
#include "platform/posix/attributes.h"
#include "platform/posix/files.h"
#include "platform/posix/target.h"
#include "platform/posix/winpath.h"

namespace platform {

namespace {

bool EndsInSeparator(std::string_view p) { return !p.empty() && (p.back() == '\\' || p.back() == '/'); }

// LastComponent takes '/' as a separator, and a Linux path has no drive.
std::uint32_t AttributesOf(const struct stat& st, std::string_view unixPath) {
  return posix::AttributesFromMode(st.st_mode, posix::LastComponent(unixPath));
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
  const std::string full = posix::FullWindowsPath(pattern);
  if (full.empty()) return kInvalidHandle;
  // The walk down every folder on the way, which the link object will want
  // too (target.h): the run's looks at its target are all made here,
  // before anything is created.
  const posix::Walk& walk = posix::WalkTo(full, true);
  if (!walk.Found()) {
    errno = walk.error;
    return kInvalidHandle;
  }
  // A root ("Z:\.", "\\server\share") holds no name to find, as on Windows.
  if (walk.names.empty()) {
    errno = ENOENT;
    return kInvalidHandle;
  }
  data.attributes = posix::AttributesFromMode(walk.facts.back().mode, walk.names.back());
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

std::uint32_t GetCurrentDirectoryA(std::uint32_t length, char* buffer) {
  const std::optional<std::string> cwd = posix::CurrentDirectoryWindows();
  if (!cwd || cwd->size() >= UINT32_MAX) return 0;
  const auto needed = static_cast<std::uint32_t>(cwd->size() + 1);
  if (buffer == nullptr || length < needed) return needed;
  std::memcpy(buffer, cwd->data(), cwd->size());
  buffer[cwd->size()] = '\0';
  return needed - 1;
}

std::string GetFullPathNameA(const std::string& path) { return posix::FullWindowsPath(path); }

std::optional<FileId> GetFileIdA(const std::string& path, bool follow) {
  // The target's identity is known from the walk that found it.
  if (follow && posix::IsFullDrivePath(path)) {
    if (const posix::Walk* walk = posix::KeptWalk(posix::FullWindowsPath(path)); walk && walk->Found()) {
      return FileId{walk->facts.back().device, walk->facts.back().inode};
    }
  }
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  struct stat st;
  const auto look = [&](const char* p) { return (follow ? stat(p, &st) : lstat(p, &st)) == 0; };
  if (!unixPath || !posix::OnDisk(*unixPath, look)) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// ---- the link's folder --------------------------------------------------------------
//
// A descriptor of the folder: the temporary file is made, renamed and
// removed relative to it.  The Linux path it was opened by is kept for the
// name lookup, which lists folders by path.

namespace {

struct HeldFolder {
  int fd;
  std::string unixPath;
};
std::vector<HeldFolder> g_held;

std::vector<HeldFolder>::iterator Find(Handle folder) {
  return std::find_if(g_held.begin(), g_held.end(), [folder](const HeldFolder& held) { return held.fd == folder; });
}

const std::string* HeldPath(Handle folder) {
  const auto held = Find(folder);
  return held == g_held.end() ? nullptr : &held->unixPath;
}

int Fd(Handle folder) { return HeldPath(folder) != nullptr ? static_cast<int>(folder) : -1; }

}  // namespace

const std::uint32_t kErrorFileExists = EEXIST;

Handle OpenFolderA(const std::string& path) {
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  if (!unixPath) return kInvalidHandle;
  const int fd = posix::HoldFolder(*unixPath);
  if (fd < 0) return kInvalidHandle;
  g_held.push_back({fd, *unixPath});
  return fd;
}

void CloseFolder(Handle folder) {
  const auto held = Find(folder);
  if (held == g_held.end()) return;
  posix::ReleaseFolder(held->fd);
  g_held.erase(held);
}

std::vector<std::string> FindNamesA(Handle folder, const std::string& name) {
  const std::string* path = HeldPath(folder);
  if (path == nullptr) return {};
  std::vector<std::string> names = posix::MatchNames(*path, name);
  // A folder that cannot be read shows no names: the name itself is looked
  // for, as the one that can be known.
  struct stat st;
  if (names.empty() && !posix::ListingRead(*path) && fstatat(Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    names.push_back(name);
  }
  return names;
}

std::int32_t CreateNewFileA(Handle folder, const std::string& name) {
  const int fd = openat(Fd(folder), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return 0;
  posix::NoteNewFile(*HeldPath(folder), name);
  if (close(fd) == 0) return 1;
  // A close can fail (NFS reports a failed write-back there): the file is
  // made, but the caller hears of a failure and never learns its name.
  const int error = errno;
  unlinkat(Fd(folder), name.c_str(), 0);
  posix::ForgetListings();
  errno = error;
  return 0;
}

std::int32_t CreateNewFileA(Handle folder, const std::string& name, const std::string& bytes) {
  const int fd = openat(Fd(folder), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return 0;
  posix::NoteNewFile(*HeldPath(folder), name);
  const int error = posix::WriteAndClose(fd, bytes);
  if (error == 0) return 1;
  unlinkat(Fd(folder), name.c_str(), 0);
  posix::ForgetListings();
  errno = error;
  return 0;
}

std::optional<FileId> GetFileIdAt(Handle folder, const std::string& name) {
  struct stat st;
  if (fstatat(Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// A leading dot hides a name on Linux, as Wine shows it, and the run's
// temporary file has one.
std::int32_t HideFileA(Handle /*folder*/, const std::string& /*name*/, bool /*hidden*/) { return 1; }

std::int32_t ReplaceFileA(Handle folder, const std::string& from, const std::string& to) {
  // rename(2) replaces the name itself, whatever it holds but a folder; the
  // file's own permissions play no part, as they play none in deleting it.
  if (renameat(Fd(folder), from.c_str(), Fd(folder), to.c_str()) != 0) return 0;
  posix::NoteRenamed(*HeldPath(folder), from, to);
  return 1;
}

std::int32_t RemoveFileA(Handle folder, const std::string& name) {
  if (unlinkat(Fd(folder), name.c_str(), 0) != 0) return 0;
  posix::NoteRemoved(*HeldPath(folder), name);
  return 1;
}

// ---- having files on disk -------------------------------------------------------------

std::int32_t FlushFileA(Handle folder, const std::string& name) {
  const int fd = openat(Fd(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  int error = fsync(fd) == 0 ? 0 : errno;
  if (close(fd) != 0 && error == 0) error = errno;
  errno = error;
  return error == 0 ? 1 : 0;
}

namespace {

// `call` on the folder's descriptor, or, where that is one that cannot be
// read (O_PATH, for a folder we may write in but not list), on the folder
// opened for reading.
template <class Call>
int OnReadableFolder(Handle folder, Call call) {
  if (call(Fd(folder)) == 0) return 0;
  if (errno != EBADF || Fd(folder) < 0) return -1;
  const int fd = openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int error = call(fd) == 0 ? 0 : errno;
  close(fd);
  errno = error;
  return error == 0 ? 0 : -1;
}

}  // namespace

std::int32_t FlushFileSystem(Handle folder) {
#if MKLNK_HAVE_SYNCFS
  if (OnReadableFolder(folder, [](int fd) { return syncfs(fd); }) == 0) return 1;
  // A folder we may not read: its files are flushed one by one.
  return errno == EACCES ? -1 : 0;
#else
  (void)folder;
  return -1;
#endif
}

std::int32_t FlushFolder(Handle folder) {
  if (OnReadableFolder(folder, [](int fd) { return fsync(fd); }) == 0) return 1;
  if (errno != EACCES) return 0;
  // A folder we may write in but not read: the whole system's writes.
  sync();
  return 1;
}

// ---- reading a list of command lines -----------------------------------------------

Handle OpenFileA(const std::string& path) {
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  if (!unixPath) return kInvalidHandle;
  int fd = -1;
  if (!posix::OnDisk(*unixPath, [&](const char* p) { return (fd = open(p, O_RDONLY | O_CLOEXEC | O_NOCTTY)) >= 0; })) {
    return kInvalidHandle;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return kInvalidHandle;
  }
  return fd;
}

void CloseFile(Handle file) {
  if (file > 2 && file <= INT_MAX) close(static_cast<int>(file));
}

std::int64_t ReadFile(Handle handle, char* buffer, std::size_t size) {
  if (handle < 0 || handle > INT_MAX) {
    errno = EBADF;
    return -1;
  }
  for (;;) {
    const ssize_t n = read(static_cast<int>(handle), buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    // A non-blocking descriptor handed to us: wait until it has something.
    pollfd p{static_cast<int>(handle), POLLIN, 0};
    if (poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
  }
}

// ---- the last error ---------------------------------------------------------------

namespace {

// The bytes of the plain file open as `fd` (ReadUpTo).
bool ReadOpened(int fd, std::size_t size, std::size_t most, std::string& bytes, bool& cut) {
  const auto once = [fd](char* into, std::size_t count) -> long long {
    for (;;) {
      const ssize_t n = read(fd, into, count);
      if (n >= 0 || errno != EINTR) return n;
    }
  };
  return ReadUpTo(once, size, most, bytes, cut);
}

}  // namespace

FileRead ReadWholeFile(const std::u16string& path, std::size_t most, std::string& bytes, bool& cut) {
  bytes.clear();
  cut = false;
  std::optional<std::string> unixPath = posix::ToUnixPath(ToAnsi(path));
  struct stat st;
  // The entry first: a pipe's open would wait for a writer.
  if (!unixPath || !posix::OnDisk(*unixPath, [&](const char* p) { return stat(p, &st) == 0; })) {
    return errno == ENOENT || errno == ENOTDIR ? FileRead::kNotFound : FileRead::kFailed;
  }
  if (S_ISDIR(st.st_mode)) return FileRead::kFolder;
  if (!S_ISREG(st.st_mode)) return FileRead::kNotAFile;
  const int fd = open(unixPath->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FileRead::kFailed;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {  // replaced since the look
    close(fd);
    return FileRead::kNotAFile;
  }
  const bool read = ReadOpened(fd, static_cast<std::size_t>(opened.st_size), most, bytes, cut);
  const int error = errno;
  close(fd);
  errno = error;
  return read ? FileRead::kRead : FileRead::kFailed;
}

std::uint32_t GetLastError() { return static_cast<std::uint32_t>(errno); }

void SetLastError(std::uint32_t code) { errno = static_cast<int>(code); }

std::u16string ErrorMessage(std::uint32_t code) { return FromAnsi(std::strerror(static_cast<int>(code))); }

bool NotFound(std::uint32_t code) {
  switch (code) {
    case 0: case ENOENT: case ENOTDIR: case ELOOP: case ENAMETOOLONG: case EACCES: return true;
    default: return false;
  }
}

}  // namespace platform

// ---- links changed in place -------------------------------------------------------

namespace platform {

const std::uint32_t kErrorFileTooLarge = EFBIG;
const std::uint32_t kErrorNotPlainFile = EINVAL;

bool ListFolderA(const std::string& path, std::vector<FolderEntry>& entries) {
  std::optional<std::string> unixPath = posix::ToUnixPath(path);
  if (!unixPath) {
    errno = ENOENT;
    return false;
  }
  int fd = -1;
  const auto open = [&](const char* p) {
    fd = ::open(p, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0;
  };
  if (!posix::OnDisk(*unixPath, open)) return false;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  entries.clear();
  errno = 0;
  // The stream is this call's alone: readdir is safe here.
  // cppcheck-suppress readdirCalled
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
      }
    }
    entries.push_back({std::string(name), type == DT_REG   ? FolderEntry::Kind::kFile
                                          : type == DT_DIR ? FolderEntry::Kind::kFolder
                                                           : FolderEntry::Kind::kOther});
    errno = 0;
  }
  const int error = errno;
  closedir(dir);
  errno = error;
  return error == 0;
}

bool ReadFileAt(Handle folder, const std::string& name, std::size_t most, std::string& bytes, FileState* state) {
  // Non-blocking: a FIFO in a link's place must not hold the run.
  const int fd = openat(Fd(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) errno = EINVAL;  // a symbolic link
    return false;
  }
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
  } else if (static_cast<std::uint64_t>(st.st_size) > most) {
    error = EFBIG;
  } else {
    if (state != nullptr) *state = FileState{st.st_mode, st.st_uid, st.st_gid, 0};
    // The size may change meanwhile: never more than `most` is kept.
    bool cut = false;
    if (!ReadOpened(fd, static_cast<std::size_t>(st.st_size), most, bytes, cut)) {
      error = errno;
    } else if (cut) {
      error = EFBIG;
    }
  }
  close(fd);
  errno = error;
  return error == 0;
}

std::int32_t KeepFileState(Handle folder, const FileState& old, const std::string& to, bool& hidden) {
  hidden = false;  // a name's leading dot hides it, and the name stays
  // What a new file gets (0666 less the umask, this process's owner and
  // group) needs no call; the rest is set as the old file has it.  The
  // umask is read once, and put back.
  static const mode_t kMask = [] {
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
  }();
  static const uid_t kUser = geteuid();
  static const gid_t kGroup = getegid();
  struct stat now;
  now.st_uid = kUser;
  now.st_gid = kGroup;
  const bool usual = old.user == now.st_uid && old.group == now.st_gid;
  if (!usual && fstatat(Fd(folder), to.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  // The owner first (a change of owner clears the set-ID bits), then the
  // mode.
  if ((now.st_uid != old.user || now.st_gid != old.group) &&
      fchownat(Fd(folder), to.c_str(), old.user, old.group, AT_SYMLINK_NOFOLLOW) != 0) {
    return 0;
  }
  if (usual && (old.mode & 07777) == (0666 & ~kMask)) return 1;
  return fchmodat(Fd(folder), to.c_str(), old.mode & 07777, 0) == 0 ? 1 : 0;
}

}  // namespace platform
