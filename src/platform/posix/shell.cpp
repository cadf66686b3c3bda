// The Shell's automation objects, stood in for on Linux.
//
// The same calls as the Windows Shell, answering the same way: NameSpace
// gives null for a folder that is not there, Items().Item(name) gives null
// for a name that is not in the folder, and a link object saves a .lnk file
// that Windows and Wine resolve.  Paths in and out are in Windows form and
// reach the file system through the Wine-style drive mapping of winpath.h;
// inside, they are handled as UTF-8 bytes, the system's own text.
//
// This file is divided into: what the disk says about the target (the one
// walk down its folders, with Wine's name lookup); writing the file (a new
// file renamed into place); the objects (Shell, Folder, FolderItems,
// FolderItem and the link object).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config.h"
#if MKLNK_HAVE_STATX
#include <sys/sysmacros.h>
#endif

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/attributes.h"
#include "platform/posix/lnkfile.h"
#include "platform/posix/winpath.h"

namespace platform {

namespace {

using posix::LinkData;
using posix::LinkItem;

[[noreturn]] void Fail(const std::u16string& what, int error) {
  throw ShellFailure{what, static_cast<std::uint32_t>(error)};
}

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }


// A descriptor closed on every way out.
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
int OpenFolder(int at, const char* name) {
#ifdef O_PATH
  return openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

// ---- what the disk says about the target ----------------------------------------

std::uint64_t FileTime(std::int64_t seconds, std::int64_t nanoseconds) {
  constexpr std::int64_t kEpochDelta = 11644473600;  // 1601-01-01 to 1970-01-01, in seconds
  const std::int64_t ticks = (seconds + kEpochDelta) * 10000000 + nanoseconds / 100;
  return ticks > 0 ? static_cast<std::uint64_t>(ticks) : 0;
}

struct FileFacts {
  bool exists = false;
  bool folder = false;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t created = 0, accessed = 0, written = 0;
  std::uint32_t device = 0;  // stands for the volume's serial number
};

// The facts of `name` in the folder `at`, a symbolic link followed as the
// Shell resolves a link's target.  The creation time where the system
// keeps one, else the last write.
FileFacts FactsAt(int at, const char* name) {
  FileFacts f;
#if MKLNK_HAVE_STATX
  struct statx sx;
  if (statx(at, name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return f;
  const auto mode = sx.stx_mode;
  f.device = static_cast<std::uint32_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
  f.size = sx.stx_size;
  f.written = FileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  f.accessed = FileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  f.created = (sx.stx_mask & STATX_BTIME) ? FileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : f.written;
#else
  struct stat st;
  if (fstatat(at, name, &st, 0) != 0) return f;
  const auto mode = st.st_mode;
  f.device = static_cast<std::uint32_t>(st.st_dev);
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
  f.exists = true;
  f.folder = S_ISDIR(mode);
  f.attributes = posix::AttributesFromMode(mode, name);
  // Windows gives ordinary files the archive bit; the Shell writes it too.
  if (!f.folder) f.attributes = (f.attributes & ~kAttrNormal) | kAttrArchive;
  if (f.folder) f.size = 0;
  return f;
}

void Apply(const FileFacts& facts, LinkItem& item) {
  if (!facts.exists) return;
  item.isFolder = facts.folder;
  item.fileSize = static_cast<std::uint32_t>(facts.size);
  item.writeTime = facts.written;
  item.creationTime = facts.created;
  item.accessTime = facts.accessed;
  item.attributes = facts.attributes;
}

// `name` in the folder `folder`, both Linux paths.
std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Fills in what the disk says about the drive and every item on the way to
// the target, under Wine's name lookup: an item whose name is on disk in
// another letter case takes the name as it is there.  Each folder is looked
// at once, by its path below a folder at most 16 levels up (the drive's
// root, then one opened on the way), so that the work grows with the depth
// of the target and not with its square.  Answers whether a name changed.
bool LookAtDisk(LinkData& data, const std::string& root) {
  constexpr int kLevelsPerFolder = 16;
  Fd held;
  int at = AT_FDCWD;         // the folder the paths below start from...
  std::string atPath = root;  // ...and its Linux path
  std::string below;          // the walked names below it
  const auto path = [&](const std::string& rel) { return at == AT_FDCWD ? Join(atPath, rel) : rel; };
  FileFacts facts = FactsAt(AT_FDCWD, root.c_str());
  data.driveSerial = facts.device;
  bool renamed = false;
  int levels = 0;
  for (std::size_t i = 0; i < data.items.size(); ++i) {
    std::string name = ToAnsi(data.items[i].name);
    facts = FactsAt(at, path(Join(below, name)).c_str());
    if (!facts.exists) {
      const std::optional<std::string> onDisk = posix::MatchName(Join(atPath, below), name);
      if (onDisk && *onDisk != name) {
        name = *onDisk;
        data.items[i].name = FromAnsi(name);
        renamed = true;
        facts = FactsAt(at, path(Join(below, name)).c_str());
      }
    }
    Apply(facts, data.items[i]);
    if (!facts.exists) break;
    below = Join(below, name);
    if (++levels == kLevelsPerFolder && i + 1 < data.items.size()) {
      held = Fd(OpenFolder(at, path(below).c_str()));
      at = held.get();
      atPath = Join(atPath, below);
      below.clear();
      levels = 0;
      if (at < 0) {
        facts = FileFacts{};
        break;
      }
    }
  }
  data.targetExists = facts.exists;
  data.targetAttributes = facts.attributes;
  data.targetCreationTime = facts.created;
  data.targetAccessTime = facts.accessed;
  data.targetWriteTime = facts.written;
  data.targetSize = static_cast<std::uint32_t>(facts.size);
  return renamed;
}

// The target's path with the names its items have, which are as they are
// on disk: "X:\\" and the names, a trailing '\\' kept.
std::u16string OnDiskPath(const std::u16string& path, const std::vector<LinkItem>& items) {
  std::u16string out = path.substr(0, 2);
  for (const LinkItem& item : items) out += u"\\" + item.name;
  if (items.empty() || path.back() == u'\\') out += u'\\';
  return out;
}

// The target as seen from the link's folder, ".\name" or "..\..\dir\name",
// when both lie on the same drive.
std::u16string RelativePath(std::string_view linkFolder, std::string_view target) {
  if (!posix::IsFullDrivePath(linkFolder) || (linkFolder[0] | 0x20) != (target[0] | 0x20)) return {};
  const auto from = posix::SplitNames(linkFolder.substr(3));
  const auto to = posix::SplitNames(target.substr(3));
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  if (common == to.size() && common == from.size()) return {};  // the link's own folder
  // A target that holds the link's folder is "..", "..\..", ... away.
  std::string rel = common == from.size() ? "." : "";
  for (std::size_t i = common; i < from.size(); ++i) rel += rel.empty() ? ".." : "\\..";
  for (std::size_t i = common; i < to.size(); ++i) {
    rel += '\\';
    rel += to[i];
  }
  return FromAnsi(rel);
}

// ---- writing the file -------------------------------------------------------------

// Writes all of `bytes` to a new file beside `path`, then renames it over
// `path`, so that nobody ever sees half a link.  The data is on disk before
// the rename (fsync): after a crash the folder holds the old state or the
// whole new link.  The folder itself is not synced: a journalling file
// system keeps the renames in order, so a crash can only undo the last of
// them, never lose the link and its older version both.
void WriteReplacing(const std::string& path, const std::string& bytes, const std::u16string& shown) {
  posix::ForgetListings();
  const std::string stem = path.substr(0, path.rfind('/') + 1) + ".mklnk-new";
  std::string temp;
  int fd = -1;
  // A short name of our own (a name of 255 bytes leaves no room for more),
  // made with the mode the umask gives a new file.
  for (int n = 0; fd < 0; ++n) {
    temp = n == 0 ? stem : stem + std::to_string(n);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || n == 99)) Fail(u"cannot write the link file " + Quoted(shown), errno);
  }
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
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    Fail(u"cannot write the link file " + Quoted(shown), error);
  }
}

std::string BuildOrFail(const LinkData& data) {
  try {
    return posix::BuildLinkFile(data);
  } catch (const std::exception& e) {
    throw ShellFailure{u"cannot store the link to " + Quoted(data.targetPath) + u": " + FromAnsi(e.what())};
  }
}

// ---- the objects ----------------------------------------------------------------------

class PosixLink final : public ShellLinkObject {
 public:
  PosixLink(std::u16string folder, std::u16string file) : folder_(std::move(folder)), file_(std::move(file)) {}

  void SetPath(const std::u16string& path) override { path_ = path; }
  void SetDescription(const std::u16string& s) override { description_ = s; }
  void SetWorkingDirectory(const std::u16string& s) override { workingDirectory_ = s; }
  void SetArguments(const std::u16string& s) override { arguments_ = s; }

  void Save() override {
    const std::optional<std::string> target = ToAnsiExact(path_);
    if (!target || !posix::IsFullDrivePath(*target)) {
      throw ShellFailure{u"the link target " + Quoted(path_) + u" is not a full path."};
    }
    LinkData data;
    data.targetPath = path_;
    data.drive = static_cast<char16_t>((*target)[0] & ~0x20);
    data.workingDir = workingDirectory_;
    data.arguments = arguments_;
    data.description = description_;
    // One item for every name; until the disk says otherwise, everything on
    // the way is a folder, and the target is one when its path says so.
    const std::vector<std::string_view> names = posix::SplitNames(std::string_view(*target).substr(3));
    for (const std::string_view name : names) {
      LinkItem item;
      item.name = FromAnsi(name);
      item.isFolder = true;
      item.attributes = kAttrDirectory;
      data.items.push_back(std::move(item));
    }
    if (!data.items.empty() && target->back() != '\\') {
      data.items.back().isFolder = false;
      data.items.back().attributes = kAttrArchive;
    }
    // The format's sizes depend on the names alone: a path too long for a
    // link fails here, before the disk is looked at.
    BuildOrFail(data);

    const std::optional<std::string> root = posix::DriveRoot((*target)[0]);
    // The target is stored with its names as they are on disk, as Windows
    // stores it; the working directory, as the Shell does, as it was given.
    if (root && LookAtDisk(data, *root)) data.targetPath = OnDiskPath(path_, data.items);
    const std::optional<std::string> stored = ToAnsiExact(data.targetPath);
    data.relativePath = RelativePath(ToAnsi(folder_), stored.value_or(*target));
    const std::string bytes = BuildOrFail(data);
    const std::optional<std::string> fileBytes = ToAnsiExact(file_);
    const std::optional<std::string> file = fileBytes ? posix::ToUnixPath(*fileBytes) : std::nullopt;
    if (!file) throw ShellFailure{u"cannot write the link file " + Quoted(file_) + u"."};
    WriteReplacing(*file, bytes, file_);
  }


 private:
  std::u16string folder_, file_;
  std::u16string path_, description_, workingDirectory_, arguments_;
};

class PosixFolderItem final : public FolderItemObject {
 public:
  // `plainFile`: what the folder's listing saw; only a plain file can be
  // opened as a link.
  PosixFolderItem(std::u16string folder, std::u16string path, bool plainFile)
      : folder_(std::move(folder)), path_(std::move(path)), plainFile_(plainFile) {}
  std::u16string Path() override { return path_; }
  std::unique_ptr<ShellLinkObject> GetLink() override {
    return plainFile_ ? std::make_unique<PosixLink>(folder_, path_) : nullptr;
  }

 private:
  std::u16string folder_, path_;
  bool plainFile_;
};

class PosixFolderItems final : public FolderItemsObject {
 public:
  PosixFolderItems(std::u16string folder, std::string unixFolder)
      : folder_(std::move(folder)), unixFolder_(std::move(unixFolder)) {}
  std::unique_ptr<FolderItemObject> Item(const std::u16string& name) override {
    if (name.empty() || name.find_first_of(u"\\/") != std::u16string::npos) return nullptr;
    const std::optional<std::string> bytes = ToAnsiExact(name);
    if (!bytes) return nullptr;
    std::string unixPath = Join(unixFolder_, *bytes);
    struct stat st;
    if (!posix::OnDisk(unixPath, [&](const char* p) { return lstat(p, &st) == 0; })) return nullptr;
    const std::u16string onDisk = FromAnsi(unixPath.substr(unixPath.rfind('/') + 1));
    const std::u16string path = folder_.back() == u'\\' ? folder_ + onDisk : folder_ + u"\\" + onDisk;
    return std::make_unique<PosixFolderItem>(folder_, path, S_ISREG(st.st_mode));
  }

 private:
  std::u16string folder_;
  std::string unixFolder_;
};

class PosixFolder final : public FolderObject {
 public:
  PosixFolder(std::u16string path, std::string unixPath) : path_(std::move(path)), unixPath_(std::move(unixPath)) {}
  std::unique_ptr<FolderItemObject> Self() override {
    return std::make_unique<PosixFolderItem>(path_, path_, false);
  }
  std::unique_ptr<FolderItemsObject> Items() override {
    return std::make_unique<PosixFolderItems>(path_, unixPath_);
  }

 private:
  std::u16string path_;
  std::string unixPath_;
};

class PosixShell final : public ShellObject {
 public:
  std::unique_ptr<FolderObject> NameSpace(const std::u16string& folder) override {
    const std::optional<std::string> bytes = ToAnsiExact(folder);
    if (!bytes) return nullptr;
    std::string full = posix::FullWindowsPath(*bytes);
    std::optional<std::string> unixPath = full.empty() ? std::nullopt : posix::ToUnixPath(full);
    struct stat st;
    if (!unixPath || !posix::OnDisk(*unixPath, [&](const char* p) { return stat(p, &st) == 0; }) ||
        !S_ISDIR(st.st_mode)) {
      return nullptr;
    }
    // The Shell names a folder as it is on disk, without a trailing
    // backslash, a drive's root with one.
    full = posix::WithNamesOf(full, *unixPath);
    if (full.size() > 3 && full.back() == '\\') full.pop_back();
    return std::make_unique<PosixFolder>(FromAnsi(full), *unixPath);
  }
};

}  // namespace

std::unique_ptr<ShellObject> CreateSystemShell() { return std::make_unique<PosixShell>(); }

}  // namespace platform
