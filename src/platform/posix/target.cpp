// The one walk down a link target's folders (see target.h).
#include "platform/posix/target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config.h"
#if MKLNK_HAVE_STATX
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/posix/winpath.h"

namespace platform::posix {

namespace {

std::uint64_t FileTime(std::int64_t seconds, std::int64_t nanoseconds) {
  constexpr std::int64_t kEpochDelta = 11644473600;  // 1601-01-01 to 1970-01-01, in seconds
  const std::int64_t ticks = (seconds + kEpochDelta) * 10000000 + nanoseconds / 100;
  return ticks > 0 ? static_cast<std::uint64_t>(ticks) : 0;
}

// The facts of `name` in the folder `at`; the reason when there are none.
int FactsAt(int at, const char* name, Facts& f) {
#if MKLNK_HAVE_STATX
  struct statx sx;
  if (statx(at, name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return errno;
  f.mode = sx.stx_mode;
  f.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  f.inode = sx.stx_ino;
  f.size = sx.stx_size;
  f.written = FileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  f.accessed = FileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  f.created = (sx.stx_mask & STATX_BTIME) ? FileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : f.written;
#else
  struct stat st;
  if (fstatat(at, name, &st, 0) != 0) return errno;
  f.mode = st.st_mode;
  f.device = st.st_dev;
  f.inode = st.st_ino;
  f.size = static_cast<std::uint64_t>(st.st_size);
#ifdef __APPLE__
  f.written = FileTime(st.st_mtimespec.tv_sec, st.st_mtimespec.tv_nsec);
  f.accessed = FileTime(st.st_atimespec.tv_sec, st.st_atimespec.tv_nsec);
#else
  f.written = FileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  f.accessed = FileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
#endif
  f.created = f.written;
#endif
  return 0;
}

// A folder, by a descriptor that needs no read permission where the system
// has such descriptors (O_PATH); -1 when it cannot be opened.
int OpenFolder(int at, const char* name) {
#ifdef O_PATH
  return openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

// `name` in the folder `folder`, both Linux paths.
std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The path as the kept walk is keyed: the drive letter in upper case and no
// trailing separator below the root.
std::string Key(std::string path) {
  if (!path.empty() && path[0] >= 'a' && path[0] <= 'z') path[0] = static_cast<char>(path[0] - 'a' + 'A');
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

Walk g_walk;
bool g_walked = false;

// Each folder is looked at once, by its path below a folder at most 16
// levels up (the drive's root, then one opened on the way), so that the
// work grows with the depth of the target and not with its square.
void Look(Walk& walk, const std::string& root) {
  constexpr int kLevelsPerFolder = 16;
  int held = -1;
  int at = AT_FDCWD;          // the folder the paths below start from...
  std::string atPath = root;  // ...and its Linux path
  std::string below;          // the walked names below it
  const auto path = [&](const std::string& rel) { return at == AT_FDCWD ? Join(atPath, rel) : rel; };
  Facts facts;
  walk.error = FactsAt(AT_FDCWD, root.c_str(), facts);
  walk.driveDevice = facts.device;
  int levels = 0;
  for (std::size_t i = 0; walk.error == 0 && i < walk.names.size(); ++i) {
    std::string& name = walk.names[i];
    walk.error = FactsAt(at, path(Join(below, name)).c_str(), facts);
    if (walk.error == ENOENT || walk.error == ENOTDIR) {
      const std::optional<std::string> onDisk = MatchName(Join(atPath, below), name);
      if (onDisk && *onDisk != name) {
        name = *onDisk;
        walk.renamed = true;
        walk.error = FactsAt(at, path(Join(below, name)).c_str(), facts);
      }
    }
    if (walk.error != 0) break;
    walk.facts.push_back(facts);
    below = Join(below, name);
    if (++levels == kLevelsPerFolder && i + 1 < walk.names.size()) {
      const int next = OpenFolder(at, path(below).c_str());
      if (next < 0) walk.error = errno;
      if (held >= 0) close(held);
      held = at = next;
      atPath = Join(atPath, below);
      below.clear();
      levels = 0;
    }
  }
  if (held >= 0) close(held);
}

}  // namespace

const Walk* KeptWalk(const std::string& fullWindowsPath) {
  return g_walked && g_walk.path == Key(fullWindowsPath) ? &g_walk : nullptr;
}

const Walk& WalkTo(const std::string& fullWindowsPath, bool fresh) {
  if (const Walk* kept = KeptWalk(fullWindowsPath); kept && !fresh) return *kept;
  g_walk = Walk{};
  g_walk.path = Key(fullWindowsPath);
  g_walked = true;
  // Below a drive's root, or a share's ("\\\\server\\share", which Wine
  // keeps in the prefix).
  std::optional<std::string> root;
  std::size_t below = 3;
  if (IsFullDrivePath(g_walk.path)) {
    root = DriveRoot(g_walk.path[0]);
  } else if (g_walk.path.starts_with("\\\\")) {
    const std::size_t server = g_walk.path.find('\\', 2);
    below = server == std::string::npos ? server : g_walk.path.find('\\', server + 1);
    if (below == std::string::npos) below = g_walk.path.size();
    if (server != std::string::npos && server > 2 && below > server + 1) root = ToUnixPath(g_walk.path.substr(0, below));
    ++below;
  }
  if (!root) {
    g_walk.error = ENOENT;
    return g_walk;
  }
  for (const std::string_view name : SplitNames(std::string_view(g_walk.path).substr(std::min(below, g_walk.path.size())))) {
    g_walk.names.emplace_back(name);
  }
  Look(g_walk, *root);
  return g_walk;
}

}  // namespace platform::posix
