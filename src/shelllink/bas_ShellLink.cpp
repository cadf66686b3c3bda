#include "shelllink/bas_ShellLink.h"

#include <memory>
#include <new>
#include <string>

#include "console/bas_Console.h"
#include "fs/bas_ExistFile.h"
#include "platform/platform.h"

namespace bas_ShellLink {

using bas_ExistFile::FileExists;
using bas_ExistFile::FullPath;
using bas_ExistFile::JoinPath;
using bas_ExistFile::KillFile;
using bas_ExistFile::LinkPath;
using bas_ExistFile::TooLongForLink;

namespace {

// A failure of the writer's own: what went wrong, and the system's reason
// for it when a system call failed.
[[noreturn]] void Fail(std::u16string what, std::uint32_t reason = 0) {
  throw platform::ShellFailure{std::move(what), reason};
}

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

// A name that Windows and Wine open as a device, not a file: CON, PRN, AUX,
// NUL, COM1 to COM9 or LPT1 to LPT9 (also with a superscript 1, 2 or 3), in
// any letter case, before the first dot and any blanks ("nul.txt.lnk",
// "Aux .lnk").  A link so named cannot be opened; Wine even waits on AUX.
bool DeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  const std::u16string upper = platform::UpperCase(base);
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL") return true;
  return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
         std::u16string_view(u"123456789\u00b9\u00b2\u00b3").find(upper[3]) != std::u16string_view::npos;
}

// Windows takes none of these in a file name; a colon would even open an
// alternate stream of another file.
bool ValidFileName(std::u16string_view name) {
  for (const char16_t c : name) {
    if (c < 32 || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) return false;
  }
  return !DeviceName(name);
}

// The first name of a full path, below its drive ("C:\") or share
// ("\\server\share\"), that Windows would not take; "" when there is none.
// On Linux a file may well be named so, but a link to it cannot work.
std::u16string InvalidName(std::u16string_view path) {
  std::size_t start = 0;
  if (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') {
    start = 3;
  } else if (path.starts_with(u"\\\\")) {
    const std::size_t server = path.find(u'\\', 2);
    const std::size_t share = server == std::u16string_view::npos ? server : path.find(u'\\', server + 1);
    start = share == std::u16string_view::npos ? path.size() : share + 1;
  }
  while (start < path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view name = path.substr(start, end - start);
    if (!ValidFileName(name)) return std::u16string(name);
    start = end + 1;
  }
  return {};
}

// The attributes of whatever stands under a name, a symbolic link that
// leads nowhere included; kInvalidFileAttributes when nothing does.
std::uint32_t Attributes(const std::u16string& path) {
  const auto bytes = platform::ToAnsiExact(path);
  return bytes ? platform::GetFileAttributesA(*bytes) : platform::kInvalidFileAttributes;
}

// Whether the link file (itself, not what a symbolic link of that name
// leads to) is the target, however either path is spelt: then making the
// link would put it in place of what it points to.
bool IsTheTarget(const std::u16string& linkPath, const std::u16string& target) {
  const auto link = platform::ToAnsiExact(linkPath);
  const auto to = platform::ToAnsiExact(target);
  if (!link || !to) return false;
  const std::optional<platform::FileId> id = platform::GetFileIdA(*link, false);
  return id && id == platform::GetFileIdA(*to, true);
}

// A free name beside `path` to park an older link under while the new one
// is made.
std::u16string AsideName(const std::u16string& path) {
  for (int n = 1;; ++n) {
    std::u16string candidate = path + u".mklnk-old";
    if (n > 1) {
      for (const char c : std::to_string(n)) candidate += static_cast<char16_t>(c);
    }
    if (Attributes(candidate) == platform::kInvalidFileAttributes) return candidate;
  }
}

bool Move(const std::u16string& from, const std::u16string& to) {
  const auto a = platform::ToAnsiExact(from);
  const auto b = platform::ToAnsiExact(to);
  if (a && b) return platform::MoveFileA(*a, *b) != 0;
  platform::SetLastError(0);  // no system call, no reason of the system's
  return false;
}

// What a call has changed in the link folder, so that a failure can put it
// back: the older link parked aside, and the new file made in its place.
struct FolderChanges {
  std::u16string linkPath;
  std::u16string aside;
  bool madeFile = false;

  void Undo() {
    if (madeFile) KillFile(linkPath, true);
    if (!aside.empty()) Move(aside, linkPath);
  }
  void Commit() {
    if (!aside.empty()) KillFile(aside, true);
  }
};

}  // namespace

void CreateEmptyFile(const std::u16string& path) {
  platform::SetLastError(0);
  if (const auto bytes = platform::ToAnsiExact(path)) platform::CreateEmptyFileA(*bytes);
}

bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const std::u16string& arguments, const std::u16string& description) {
  linkFolder = bas_ExistFile::StripQuotes(std::move(linkFolder));
  linkName = bas_ExistFile::StripQuotes(std::move(linkName));
  targetName = bas_ExistFile::StripQuotes(std::move(targetName));
  targetFolder = bas_ExistFile::StripQuotes(std::move(targetFolder));

  const std::u16string linkFileName = (linkName.empty() ? targetName : linkName) + u".lnk";
  FolderChanges changes;
  try {
    if (!ValidFileName(linkFileName)) Fail(u"the link name " + Quoted(linkFileName) + u" is not a valid file name.");

    // The target as the link stores it: the whole path made full, so that
    // "." or "..", a drive-relative name or repeated backslashes name what
    // the existence test found.  A folder named by "." or ".." is its own
    // working directory, as a folder named whole is.
    const std::u16string targetPath = FullPath(JoinPath(targetFolder, targetName));
    const std::u16string workingDirectory =
        targetName == u"." || targetName == u".." ? targetPath : FullPath(targetFolder);
    for (const std::u16string& tooLong : {TooLongForLink(LinkPath::kTarget, targetPath),
                                          TooLongForLink(LinkPath::kWorkingDirectory, workingDirectory)}) {
      if (!tooLong.empty()) Fail(tooLong);
    }
    if (const std::u16string bad = InvalidName(targetPath); !bad.empty()) {
      Fail(u"the target " + Quoted(targetPath) + u" holds the name " + Quoted(bad) +
           u", which Windows does not take; a link to it cannot work.");
    }

    const std::unique_ptr<platform::ShellObject> shell = platform::CreateShell();
    const std::unique_ptr<platform::FolderObject> folder = shell->NameSpace(FullPath(linkFolder));
    if (!folder) Fail(u"Object variable not set: the link folder " + Quoted(linkFolder) + u" was not found.");
    std::unique_ptr<platform::FolderItemObject> item = folder->Self();
    if (!item) Fail(u"Object variable not set: the link folder " + Quoted(linkFolder) + u" has no item.");
    changes.linkPath = JoinPath(item->Path(), linkFileName);
    if (const std::u16string tooLong = TooLongForLink(LinkPath::kLinkFile, changes.linkPath); !tooLong.empty()) {
      Fail(tooLong);
    }

    // Whatever stands under the link file's name is parked, not deleted,
    // until the new link is saved; a folder stays where it is.
    if (const std::uint32_t attributes = Attributes(changes.linkPath);
        attributes != platform::kInvalidFileAttributes) {
      if (IsTheTarget(changes.linkPath, targetPath)) {
        Fail(u"the link file " + Quoted(changes.linkPath) + u" is the target itself.");
      }
      if ((attributes & platform::kAttrDirectory) != 0) {
        Fail(u"cannot create the link file " + Quoted(changes.linkPath) + u": a folder of that name is in the way.");
      }
      const std::u16string aside = AsideName(changes.linkPath);
      if (!Move(changes.linkPath, aside)) {
        Fail(u"cannot replace the existing file " + Quoted(changes.linkPath), platform::GetLastError());
      }
      changes.aside = aside;
    }
    CreateEmptyFile(changes.linkPath);
    const std::uint32_t reason = platform::GetLastError();  // why it could not be made, if it could not
    if (!FileExists(changes.linkPath)) Fail(u"cannot create the link file " + Quoted(changes.linkPath), reason);
    changes.madeFile = true;

    const std::unique_ptr<platform::FolderItemsObject> items = folder->Items();
    item = items ? items->Item(linkFileName) : nullptr;
    if (!item) Fail(u"Object variable not set: the Shell does not list " + Quoted(changes.linkPath) + u".");
    const std::unique_ptr<platform::ShellLinkObject> link = item->GetLink();
    if (!link) Fail(u"the Shell gave no link object for " + Quoted(changes.linkPath) + u".");

    link->SetPath(targetPath);
    link->SetDescription(description);
    link->SetWorkingDirectory(workingDirectory);
    link->SetArguments(arguments);
    link->Save();
  } catch (const platform::ShellFailure& failure) {
    bas_Console::ConsoleWriteLine(bas_Console::ErrorLine(failure.description, failure.reason));
    changes.Undo();
    return false;
  } catch (const std::bad_alloc&) {
    bas_Console::ConsoleWriteLine(bas_Console::ErrorLine(u"out of memory"));
    changes.Undo();
    return false;
  }
  changes.Commit();
  return true;
}

}  // namespace bas_ShellLink
