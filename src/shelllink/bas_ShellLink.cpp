#include "shelllink/bas_ShellLink.h"

#include <memory>
#include <new>
#include <string>

#include "console/bas_Console.h"
#include "fs/bas_ExistFile.h"
#include "platform/platform.h"

namespace bas_ShellLink {

using bas_ExistFile::FileExists;
using bas_ExistFile::FolderExists;
using bas_ExistFile::JoinPath;
using bas_ExistFile::KillFile;

namespace {

[[noreturn]] void Fail(std::u16string description) { throw platform::ShellFailure{std::move(description)}; }

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

// The path resolved against the current directory.  The Shell's namespace
// does not take relative folders, and a link that stores a relative target
// or working directory is broken wherever it is opened from.
std::u16string FullPath(const std::u16string& path) {
  if (path.empty()) return path;
  const auto bytes = platform::ToAnsiExact(path);
  if (!bytes) return path;
  const std::string full = platform::GetFullPathNameA(*bytes);
  return full.empty() ? path : platform::FromAnsi(full);
}

// Windows takes none of these in a file name; a colon would even open an
// alternate stream of another file.
bool ValidFileName(const std::u16string& name) {
  for (const char16_t c : name) {
    if (c < 32 || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) return false;
  }
  return true;
}

bool Exists(const std::u16string& path) { return FileExists(path) || FolderExists(path); }

// A free name beside `path` to park an older link under while the new one
// is made.
std::u16string AsideName(const std::u16string& path) {
  for (int n = 1;; ++n) {
    std::u16string candidate = path + u".mklnk-old";
    if (n > 1) {
      for (const char c : std::to_string(n)) candidate += static_cast<char16_t>(c);
    }
    if (!Exists(candidate)) return candidate;
  }
}

bool Move(const std::u16string& from, const std::u16string& to) {
  const auto a = platform::ToAnsiExact(from);
  const auto b = platform::ToAnsiExact(to);
  return a && b && platform::MoveFileA(*a, *b) != 0;
}

// What a call has changed in the link folder, so that a failure can put it
// back: the older link parked aside, and the new file made in its place.
struct FolderChanges {
  std::u16string linkPath;
  std::u16string aside;
  bool madeFile = false;

  void Undo() {
    if (madeFile && FileExists(linkPath)) KillFile(linkPath, true);
    if (!aside.empty()) Move(aside, linkPath);
  }
  void Commit() {
    if (!aside.empty()) KillFile(aside, true);
  }
};

}  // namespace

void CreateEmptyFile(const std::u16string& path) {
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

    const std::unique_ptr<platform::ShellObject> shell = platform::CreateShell();
    const std::unique_ptr<platform::FolderObject> folder = shell->NameSpace(FullPath(linkFolder));
    if (!folder) Fail(u"Object variable not set: the link folder " + Quoted(linkFolder) + u" was not found.");
    std::unique_ptr<platform::FolderItemObject> item = folder->Self();
    if (!item) Fail(u"Object variable not set: the link folder " + Quoted(linkFolder) + u" has no item.");
    changes.linkPath = JoinPath(item->Path(), linkFileName);

    // An older link is parked, not deleted, until the new one is saved.
    if (FileExists(changes.linkPath)) {
      const std::u16string aside = AsideName(changes.linkPath);
      if (!Move(changes.linkPath, aside)) {
        Fail(u"cannot replace the existing file " + Quoted(changes.linkPath) + u".");
      }
      changes.aside = aside;
    }
    CreateEmptyFile(changes.linkPath);
    if (!FileExists(changes.linkPath)) Fail(u"cannot create the link file " + Quoted(changes.linkPath) + u".");
    changes.madeFile = true;

    const std::unique_ptr<platform::FolderItemsObject> items = folder->Items();
    item = items ? items->Item(linkFileName) : nullptr;
    if (!item) Fail(u"Object variable not set: the Shell does not list " + Quoted(changes.linkPath) + u".");
    const std::unique_ptr<platform::ShellLinkObject> link = item->GetLink();
    if (!link) Fail(u"the Shell gave no link object for " + Quoted(changes.linkPath) + u".");

    const std::u16string fullTargetFolder = FullPath(targetFolder);
    link->SetPath(JoinPath(fullTargetFolder, targetName));
    link->SetDescription(description);
    link->SetWorkingDirectory(fullTargetFolder);
    link->SetArguments(arguments);
    link->Save();
  } catch (const platform::ShellFailure& failure) {
    bas_Console::ConsoleWriteLine(u"Error: " + failure.description);
    changes.Undo();
    return false;
  } catch (const std::bad_alloc&) {
    bas_Console::ConsoleWriteLine(u"Error: out of memory.");
    changes.Undo();
    return false;
  }
  changes.Commit();
  return true;
}

}  // namespace bas_ShellLink
