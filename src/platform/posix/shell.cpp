// The Shell's automation objects, stood in for on Linux.
//
// The same calls as the Windows Shell, answering the same way: NameSpace
// gives null for a folder that is not there, Items().Item(name) gives null
// for a name that is not in the folder, and a link object saves a .lnk file
// that Windows and Wine resolve.  Paths in and out are in Windows form and
// reach the file system through the Wine-style drive mapping of winpath.h;
// inside, they are handled as UTF-8 bytes, the system's own text.
//
// This file is divided into: what the disk says about the target (from the
// one walk down its folders, target.h); writing the file; the objects
// (Shell, Folder, FolderItems, FolderItem and the link object).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "platform/posix/files.h"
#include "lnk/builder.h"
#include "platform/posix/target.h"
#include "platform/posix/winpath.h"

namespace platform {

namespace {

using lnk::LinkData;
using lnk::LinkItem;

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }


// ---- what the disk says about the target ----------------------------------------

// `name` in the folder `folder`, both Linux paths.
std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The items and the header's facts from the walk down the target's folders
// (target.h), made when the run tested the target: each name as it is on
// disk, and what the disk says of it.  Answers whether a name changed.
bool Apply(const posix::Walk& walk, LinkData& data) {
  data.driveSerial = static_cast<std::uint32_t>(walk.driveDevice);
  for (std::size_t i = 0; i < walk.facts.size() && i < data.items.size(); ++i) {
    const posix::Facts& facts = walk.facts[i];
    LinkItem& item = data.items[i];
    item.name = FromAnsi(walk.names[i]);
    item.isFolder = S_ISDIR(facts.mode);
    item.fileSize = item.isFolder ? 0 : static_cast<std::uint32_t>(facts.size);
    item.writeTime = facts.written;
    item.creationTime = facts.created;
    item.accessTime = facts.accessed;
    item.attributes = posix::AttributesFromMode(facts.mode, walk.names[i]);
    // Windows gives ordinary files the archive bit; the Shell writes it too.
    if (!item.isFolder) item.attributes = (item.attributes & ~kAttrNormal) | kAttrArchive;
  }
  data.targetExists = walk.Found();
  if (data.targetExists && !data.items.empty()) {
    const LinkItem& target = data.items.back();
    data.targetAttributes = target.attributes;
    data.targetCreationTime = target.creationTime;
    data.targetAccessTime = target.accessTime;
    data.targetWriteTime = target.writeTime;
    data.targetSize = target.fileSize;
  } else if (data.targetExists) {  // a drive's root
    data.targetAttributes = kAttrDirectory;
  }
  return walk.renamed;
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

// Writes all of `bytes` into the file at `path`, the empty file the link
// object was opened on; the caller flushes it.  A failure is the system's
// reason alone: the caller knows which link it was.  The file is new and
// empty: it is not truncated, which would have ext4 start writing it back
// on its close (auto_da_alloc), a wait for every link of a list.
void WriteInto(const std::string& path, const std::string& bytes) {
  const auto fail = [](int error) { throw ShellFailure{u"", static_cast<std::uint32_t>(error)}; };
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) fail(errno);
  if (const int error = posix::WriteAndClose(fd, bytes); error != 0) fail(error);
}

std::string BuildOrFail(const LinkData& data) {
  try {
    return lnk::BuildLinkFile(data);
  } catch (const std::exception& e) {
    throw ShellFailure{u"cannot store the link to " + Quoted(data.targetPath) + u": " + FromAnsi(e.what())};
  }
}

// ---- the objects ----------------------------------------------------------------------

class PosixLink final : public ShellLinkObject {
 public:
  PosixLink(std::u16string folder, std::u16string file) : folder_(std::move(folder)), file_(std::move(file)) {}

  void SetProperties(const lnk::Properties& properties) override { properties_ = properties; }

  void SetPath(const std::u16string& path) override {
    path_ = path;
    notHere_ = false;
  }
  void SetPathNotHere(const std::u16string& path, bool isFolder) override {
    path_ = path;
    notHere_ = true;
    notHereFolder_ = isFolder;
  }

  // The forms of a link, as Windows stores each: a path on a drive (looked
  // at on disk, or, not here, by its names alone); a path on a network
  // share; a path of %VARIABLES%, stored as typed beside what they lead to.
  void Save() override {
    LinkData data;
    lnk::SetProperties(data, properties_, ExpandVariables(properties_.iconLocation));
    const bool variables = path_.size() > 2 && path_[0] == u'%' && path_.find(u'%', 2) != std::u16string::npos;
    if (variables) data.environmentTarget = path_;
    data.targetPath = variables ? ExpandVariables(path_) : path_;
    const std::optional<std::string> target = ToAnsiExact(data.targetPath);
    if (target && target->starts_with("\\\\") && !notHere_) {
      Network(data, *target);
    } else if (target && posix::IsFullDrivePath(*target)) {
      OnDrive(data, *target);
    } else if (variables) {
      Unexpanded(data, std::nullopt);
    } else {
      throw ShellFailure{u"the link target " + Quoted(path_) + u" is not a full path."};
    }
    const std::string bytes = BuildOrFail(data);
    const std::optional<std::string> fileBytes = ToAnsiExact(file_);
    const std::optional<std::string> file = fileBytes ? posix::ToUnixPath(*fileBytes) : std::nullopt;
    if (!file) throw ShellFailure{u"", ENOENT};
    WriteInto(*file, bytes);
  }

 private:
  // A path on a drive: one item for every name; until the disk says
  // otherwise, everything on the way is a folder, and the target is one
  // when its path says so.
  void OnDrive(LinkData& data, const std::string& target) {
    data.drive = static_cast<char16_t>(target[0] & ~0x20);
    const std::vector<std::string_view> names = posix::SplitNames(std::string_view(target).substr(3));
    for (const std::string_view name : names) {
      LinkItem item;
      item.name = FromAnsi(name);
      item.isFolder = true;
      item.attributes = kAttrDirectory;
      data.items.push_back(std::move(item));
    }
    const bool folder = notHere_ ? notHereFolder_ : target.back() == '\\';
    if (!data.items.empty() && !folder) {
      data.items.back().isFolder = false;
      data.items.back().attributes = notHere_ ? 0 : kAttrArchive;
    }
    // The format's sizes depend on the names alone: a path too long for a
    // link fails here, before the disk is looked at.
    BuildOrFail(data);
    if (notHere_) {
      // As Windows stores a path it cannot look at: the names as typed,
      // no sizes, times, attributes, volume or relative path.
      data.targetExists = false;
      data.location = LinkData::Location::kNone;
      return;
    }
    // The target is stored with its names as they are on disk, as Windows
    // stores it; the working directory, as the Shell does, as it was given.
    const posix::Walk& walk = posix::WalkTo(target);
    if (walk.error != 0 && walk.error != ENOENT && walk.error != ENOTDIR) {
      throw ShellFailure{u"cannot look at the target " + Quoted(path_), static_cast<std::uint32_t>(walk.error)};
    }
    if (!walk.Found() && !data.environmentTarget.empty()) return Unexpanded(data, target);
    if (Apply(walk, data)) data.targetPath = OnDiskPath(data.targetPath, data.items);
    const std::optional<std::string> stored = ToAnsiExact(data.targetPath);
    data.relativePath = RelativePath(ToAnsi(folder_), stored.value_or(target));
  }

  // A path of %VARIABLES% that lead nowhere here, or to nothing: the
  // variables alone tell where the target is, with the way from the link's
  // folder to where they lead here when that is known (Windows 7's form).
  void Unexpanded(LinkData& data, const std::optional<std::string>& expanded) {
    data.items.clear();
    data.idList = false;
    data.location = LinkData::Location::kNone;
    data.forceNoLinkInfo = true;
    data.preferEnvironmentPath = true;
    data.targetExists = false;
    data.targetAttributes = 0;
    data.targetPath = path_;
    if (expanded) data.relativePath = RelativePath(ToAnsi(folder_), *expanded);
  }

  // A path on a network share: the share and the path below it, and the
  // path as typed in the environment block, no item list; what the disk
  // says of it where the share is reachable here (Wine keeps shares in the
  // prefix).
  static void Network(LinkData& data, const std::string& target) {
    const std::size_t server = target.find('\\', 2);
    std::size_t share = server == std::string::npos ? server : target.find('\\', server + 1);
    if (share == std::string::npos) share = target.size();
    data.idList = false;
    data.location = LinkData::Location::kNetwork;
    data.netName = UpperCase(FromAnsi(target.substr(0, share)));
    data.pathSuffix = FromAnsi(share < target.size() ? target.substr(share + 1) : std::string());
    while (!data.pathSuffix.empty() && data.pathSuffix.back() == u'\\') data.pathSuffix.pop_back();
    if (data.environmentTarget.empty()) data.environmentTarget = data.targetPath;
    const posix::Walk& walk = posix::WalkTo(target);
    data.targetExists = walk.Found();
    if (data.targetExists && walk.facts.empty()) data.targetAttributes = kAttrDirectory;  // the share's root
    if (data.targetExists && !walk.facts.empty()) {
      const posix::Facts& facts = walk.facts.back();
      data.targetAttributes = posix::AttributesFromMode(facts.mode, walk.names.back());
      if (!S_ISDIR(facts.mode)) data.targetAttributes = (data.targetAttributes & ~kAttrNormal) | kAttrArchive;
      data.targetSize = S_ISDIR(facts.mode) ? 0 : static_cast<std::uint32_t>(facts.size);
      data.targetCreationTime = facts.created;
      data.targetAccessTime = facts.accessed;
      data.targetWriteTime = facts.written;
    }
  }

  std::u16string folder_, file_;
  std::u16string path_;
  lnk::Properties properties_;
  bool notHere_ = false, notHereFolder_ = false;
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
    // The folder's listing, kept since the run looked into the folder, knows
    // most names; the disk is asked about the others.
    bool plainFile = false;
    if (const std::optional<unsigned char> type = posix::ListedType(unixFolder_, *bytes)) {
      plainFile = *type == DT_REG;
    } else {
      struct stat st;
      if (!posix::OnDisk(unixPath, [&](const char* p) { return lstat(p, &st) == 0; })) return nullptr;
      plainFile = S_ISREG(st.st_mode);
    }
    const std::u16string onDisk = FromAnsi(unixPath.substr(unixPath.rfind('/') + 1));
    const std::u16string path = folder_.back() == u'\\' ? folder_ + onDisk : folder_ + u"\\" + onDisk;
    return std::make_unique<PosixFolderItem>(folder_, path, plainFile);
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
