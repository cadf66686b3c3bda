// The Shell's automation objects, stood in for on Linux.
//
// The same calls as the Windows Shell, answering the same way: NameSpace
// gives null for a folder that is not there, Items().Item(name) gives null
// for a name that is not in the folder, and a link object saves a .lnk file
// that Windows and Wine resolve.  Paths in and out are in Windows form and
// reach the file system through the Wine-style drive mapping.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/lnkfile.h"
#include "platform/posix/winpath.h"

namespace platform {

namespace {

using posix::LinkData;
using posix::LinkItem;

[[noreturn]] void Fail(const std::u16string& what, int error) {
  throw ShellFailure{what + u": " + FromAnsi(std::strerror(error)) + u"."};
}

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

std::uint64_t FileTime(const struct timespec& t) {
  constexpr std::int64_t kEpochDelta = 11644473600;  // 1601-01-01 to 1970-01-01, in seconds
  const std::int64_t ticks = (static_cast<std::int64_t>(t.tv_sec) + kEpochDelta) * 10000000 + t.tv_nsec / 100;
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

FileFacts Facts(const std::string& unixPath, std::string_view name) {
  FileFacts f;
  struct statx sx;
  if (statx(AT_FDCWD, unixPath.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return f;
  f.exists = true;
  f.folder = S_ISDIR(sx.stx_mode);
  f.device = static_cast<std::uint32_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
  f.attributes = posix::AttributesFromMode(sx.stx_mode, name);
  // Windows gives ordinary files the archive bit; the Shell writes it too.
  if (!f.folder) f.attributes = (f.attributes & ~kAttrNormal) | kAttrArchive;
  f.size = f.folder ? 0 : sx.stx_size;
  auto ft = [](const struct statx_timestamp& t) {
    return FileTime(timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)});
  };
  f.written = ft(sx.stx_mtime);
  f.accessed = ft(sx.stx_atime);
  f.created = (sx.stx_mask & STATX_BTIME) ? ft(sx.stx_btime) : f.written;
  return f;
}

// "X:\" followed by anything: the only form a link target is stored in.
bool HasDrive(const std::u16string& path) {
  return path.size() >= 3 && path[1] == u':' && path[2] == u'\\' &&
         ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

std::vector<std::u16string> Components(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::size_t start = 3;  // after "X:\"
  while (start < path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The drive letter of a path that HasDrive accepts, in upper case.
char16_t DriveOf(const std::u16string& path) { return static_cast<char16_t>(path[0] & ~0x20); }

// The target as seen from the link's folder, ".\name" or "..\..\dir\name",
// when both lie on the same drive.
std::u16string RelativePath(const std::u16string& linkFolder, const std::u16string& target) {
  if (!HasDrive(linkFolder) || !HasDrive(target) || DriveOf(linkFolder) != DriveOf(target)) {
    return {};
  }
  const auto from = Components(linkFolder);
  const auto to = Components(target);
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  if (common == to.size() && common == from.size()) return {};  // the link's own folder
  // A target that holds the link's folder is "..", "..\..", ... away.
  std::u16string rel = common == from.size() ? u"." : u"";
  for (std::size_t i = common; i < from.size(); ++i) rel += rel.empty() ? u".." : u"\\..";
  for (std::size_t i = common; i < to.size(); ++i) rel += u"\\" + to[i];
  return rel;
}

std::optional<std::string> UnixPath(const std::u16string& windowsPath) {
  const auto bytes = ToAnsiExact(windowsPath);
  if (!bytes) return std::nullopt;
  return posix::ToUnixPath(*bytes);
}

// Writes all of `bytes` to a new file beside `path`, then renames it over
// `path`, so that nobody ever sees half a link.
void WriteReplacing(const std::string& path, const std::string& bytes, const std::u16string& shown) {
  const std::size_t slash = path.rfind('/');
  std::string temp = path.substr(0, slash + 1) + ".mklnk-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) Fail(u"cannot write the link file " + Quoted(shown), errno);
  const mode_t mask = umask(0);
  umask(mask);
  int error = 0;
  if (fchmod(fd, 0666 & ~mask) != 0) error = errno;
  for (std::size_t done = 0; error == 0 && done < bytes.size();) {
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

class Link : public ShellLinkObject {
 public:
  Link(std::u16string folder, std::u16string file) : folder_(std::move(folder)), file_(std::move(file)) {}

  void SetPath(const std::u16string& path) override { path_ = path; }
  void SetDescription(const std::u16string& s) override { description_ = s; }
  void SetWorkingDirectory(const std::u16string& s) override { workingDirectory_ = s; }
  void SetArguments(const std::u16string& s) override { arguments_ = s; }

  void Save() override {
    if (!HasDrive(path_)) throw ShellFailure{u"the link target " + Quoted(path_) + u" is not a full path."};
    LinkData data;
    data.target_path = path_;
    data.drive = DriveOf(path_);
    data.working_dir = workingDirectory_;
    data.arguments = arguments_;
    data.description = description_;
    data.relative_path = RelativePath(folder_, path_);

    // The drive's root tells the volume, and is the target when the path
    // names nothing below it.
    const auto root = UnixPath(path_.substr(0, 3));
    FileFacts facts = root ? Facts(*root, "") : FileFacts{};
    data.drive_serial = facts.device;

    // One item for every component; the writer makes every one on the way a
    // folder, the target is what it is, or a folder when its path says so.
    const std::vector<std::u16string> parts = Components(path_);
    std::u16string walked = path_.substr(0, 2);
    for (const std::u16string& part : parts) {
      walked += u"\\" + part;
      const auto unixPath = UnixPath(walked);
      facts = unixPath ? Facts(*unixPath, ToAnsi(part)) : FileFacts{};
      LinkItem item;
      item.name = part;
      item.is_folder = facts.exists ? facts.folder : path_.back() == u'\\';
      item.file_size = static_cast<std::uint32_t>(facts.size);
      item.write_time = facts.written;
      item.creation_time = facts.created;
      item.access_time = facts.accessed;
      item.attributes = facts.exists ? facts.attributes : (item.is_folder ? kAttrDirectory : kAttrArchive);
      data.items.push_back(std::move(item));
    }
    data.target_exists = facts.exists;
    data.target_attributes = facts.attributes;
    data.target_creation_time = facts.created;
    data.target_access_time = facts.accessed;
    data.target_write_time = facts.written;
    data.target_size = static_cast<std::uint32_t>(facts.size);

    std::string bytes;
    try {
      bytes = posix::BuildLinkFile(data);
    } catch (const std::exception& e) {
      throw ShellFailure{u"cannot store the link to " + Quoted(path_) + u": " + FromAnsi(e.what())};
    }
    const auto target = UnixPath(file_);
    if (!target) throw ShellFailure{u"cannot write the link file " + Quoted(file_) + u"."};
    WriteReplacing(*target, bytes, file_);
  }

 private:
  std::u16string folder_, file_;
  std::u16string path_, description_, workingDirectory_, arguments_;
};

class Item : public FolderItemObject {
 public:
  Item(std::u16string folder, std::u16string path) : folder_(std::move(folder)), path_(std::move(path)) {}
  std::u16string Path() override { return path_; }
  std::unique_ptr<ShellLinkObject> GetLink() override {
    // Only a plain file can be opened as a link.
    const auto unixPath = UnixPath(path_);
    struct stat st;
    if (!unixPath || lstat(unixPath->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return std::make_unique<Link>(folder_, path_);
  }

 private:
  std::u16string folder_, path_;
};

class Items : public FolderItemsObject {
 public:
  Items(std::u16string folder, std::string unixFolder) : folder_(std::move(folder)), unix_(std::move(unixFolder)) {}
  std::unique_ptr<FolderItemObject> Item(const std::u16string& name) override {
    if (name.empty() || name.find_first_of(u"\\/") != std::u16string::npos) return nullptr;
    const auto bytes = ToAnsiExact(name);
    struct stat st;
    if (!bytes || lstat((unix_ + "/" + *bytes).c_str(), &st) != 0) return nullptr;
    const std::u16string path = folder_.back() == u'\\' ? folder_ + name : folder_ + u"\\" + name;
    return std::make_unique<platform::Item>(folder_, path);
  }

 private:
  std::u16string folder_;
  std::string unix_;
};

class Folder : public FolderObject {
 public:
  Folder(std::u16string path, std::string unixPath) : path_(std::move(path)), unix_(std::move(unixPath)) {}
  std::unique_ptr<FolderItemObject> Self() override { return std::make_unique<Item>(path_, path_); }
  std::unique_ptr<FolderItemsObject> Items() override { return std::make_unique<platform::Items>(path_, unix_); }

 private:
  std::u16string path_;
  std::string unix_;
};

class Shell : public ShellObject {
 public:
  std::unique_ptr<FolderObject> NameSpace(const std::u16string& folder) override {
    const auto bytes = ToAnsiExact(folder);
    if (!bytes) return nullptr;
    std::u16string full = FromAnsi(posix::FullWindowsPath(*bytes));
    if (full.empty()) return nullptr;
    const auto unixPath = posix::ToUnixPath(ToAnsi(full));
    struct stat st;
    if (!unixPath || stat(unixPath->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    // The Shell names a folder without a trailing backslash, a drive's root
    // with one.
    if (full.size() > 3 && full.back() == u'\\') full.pop_back();
    return std::make_unique<Folder>(full, *unixPath);
  }
};

}  // namespace

std::unique_ptr<ShellObject> CreateSystemShell() { return std::make_unique<Shell>(); }

}  // namespace platform
