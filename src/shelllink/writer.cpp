#include "shelllink/writer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "console/line_writer.h"
#include "fs/paths.h"
#include "platform/platform.h"

namespace mklnk::shelllink {

using fs::JoinPath;
using fs::LinkPath;
using fs::TooLongForLink;
using fs::ValidFileName;

namespace {

// A failure of the writer's own: what went wrong, and the system's reason
// for it when a system call failed.
[[noreturn]] void Fail(std::u16string what, std::uint32_t reason = 0) {
  throw platform::ShellFailure{std::move(what), reason};
}

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

// The full path, or a failure when the current folder a relative path
// needs cannot be read: such a path must not be stored as it is.  A path
// the system cannot resolve otherwise (one too long for it, say) comes back
// as it is, for the checks that follow to name.
std::u16string FullOrFail(const std::u16string& path) {
  platform::SetLastError(0);
  std::u16string full = fs::FullPath(path);
  if (!full.empty()) return full;
  const std::uint32_t reason = platform::GetLastError();
  if (reason != 0 && !fs::IsFullPath(path)) {
    Fail(u"cannot resolve " + Quoted(path) + u" against the current folder", reason);
  }
  return path;
}

// The same for a path the link stores but nothing looks at (a working
// directory, an icon file), which must also be text the system's calls
// take (mklnk.exe's are single-byte): else it would be stored relative.
std::u16string FullStoredPath(const std::u16string& path) {
  if (!fs::IsFullPath(path) && !platform::ToAnsiExact(path)) {
    Fail(u"cannot resolve " + Quoted(path) + u" against the current folder: it holds characters the system's "
         u"code page does not.");
  }
  return FullOrFail(path);
}

// The attributes of whatever stands under a name, a symbolic link that
// leads nowhere included; kInvalidFileAttributes when nothing does.
std::uint32_t Attributes(const std::u16string& path) {
  const auto bytes = platform::ToAnsiExact(path);
  return bytes ? platform::GetFileAttributesA(*bytes) : platform::kInvalidFileAttributes;
}

// "a", "a" and "b", "a", "b" and "c": names for an error line.
std::u16string NameList(const std::vector<std::string>& names) {
  std::u16string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? u" and " : u", ";
    out += Quoted(platform::FromAnsi(names[i]));
  }
  return out;
}

// The link file's name as the folder spells it: the name itself when it is
// there, else the one entry that differs from it only in letter case (the
// system's own save keeps that spelling); refused when several do, since
// replacing any one of them would be a guess.  `there`: whether any is.
std::string OnDiskName(platform::Handle folder, const std::string& name, const std::u16string& folderPath,
                       bool& there) {
  const std::vector<std::string> names = platform::FindNamesA(folder, name);
  there = !names.empty();
  if (names.size() <= 1) return names.empty() ? name : names.front();
  if (std::find(names.begin(), names.end(), name) != names.end()) return name;
  Fail(u"cannot tell which file to replace: " + NameList(names) + u" in " + Quoted(folderPath) +
       u" all match " + Quoted(platform::FromAnsi(name)) + u"; rename or remove all but one.");
}

}  // namespace

bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const platform::LinkProperties& properties) {
  // A list of one: staged, then put in place at once.
  LinkBatch batch;
  if (!CreateShellLink(std::move(linkFolder), std::move(targetFolder), std::move(targetName), std::move(linkName),
                       properties, batch)) {
    return false;
  }
  batch.group.Commit();
  return batch.Report(batch.group.TakeOutcomes());
}

bool LinkBatch::Report(const std::vector<ReplaceOutcome>& outcomes) {
  bool all = true;
  for (const ReplaceOutcome& outcome : outcomes) {
    if (outcome.done) continue;
    console::ConsoleWriteLine(console::ErrorLine(outcome.what, outcome.reason));
    all = false;
  }
  return all;
}

bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const platform::LinkProperties& properties, LinkBatch& batch) {
  linkFolder = fs::StripQuotes(std::move(linkFolder));
  linkName = fs::StripQuotes(std::move(linkName));
  targetName = fs::StripQuotes(std::move(targetName));
  targetFolder = fs::StripQuotes(std::move(targetFolder));

  std::optional<std::size_t> staged;
  ReplaceGroup& group = batch.group;
  try {
    // The target as the link stores it: the whole path made full, so that
    // "." or "..", a drive-relative name or repeated backslashes name what
    // the existence test found.  A folder named by "." or ".." is its own
    // working directory, as a folder named whole is.  A path that begins
    // with a %VARIABLE% is stored as typed, its folder the working
    // directory: the machine that opens the link expands them.
    const bool variables = fs::IsEnvironmentPath(targetFolder.empty() ? targetName : targetFolder);
    const std::u16string targetPath =
        !variables ? FullOrFail(JoinPath(targetFolder, targetName))
                   : (targetFolder.empty() ? targetName : JoinPath(targetFolder, targetName));
    // The link's properties as it stores them, their paths made full.
    lnk::Properties stored = properties;
    std::u16string& workingDirectory = stored.workingDirectory;
    workingDirectory = variables ? targetFolder
                       : targetName == u"." || targetName == u".." ? targetPath
                                                                   : FullOrFail(targetFolder);
    if (const std::u16string& given = properties.workingDirectory; !given.empty()) {
      workingDirectory = fs::IsEnvironmentPath(given) ? given : FullStoredPath(given);
    }
    std::u16string& icon = stored.iconLocation;
    if (!icon.empty() && !fs::IsEnvironmentPath(icon)) icon = FullStoredPath(icon);
    // Named after the target when the link has no name of its own: a file
    // by its name as given (Windows makes "aux.txt" full as the device
    // "\\.\aux"), a folder by its full path's last name: "C:\" makes
    // "C.lnk", not ".lnk", which every such link would replace.
    const bool named = !targetName.empty() && targetName != u"." && targetName != u"..";
    const std::u16string linkFileName =
        (!linkName.empty() ? linkName : named ? targetName : fs::LinkNameOf(targetPath)) + u".lnk";
    if (!ValidFileName(linkFileName)) Fail(u"the link name " + Quoted(linkFileName) + u" is not a valid file name.");
    // Each path fits as typed, and as its %VARIABLES% lead here: the
    // system that opens the link expands them into the same buffers.
    using Checked = std::pair<LinkPath, const std::u16string*>;
    for (const auto& [kind, path] : {Checked{LinkPath::kTarget, &targetPath},
                                     Checked{LinkPath::kWorkingDirectory, &workingDirectory},
                                     Checked{LinkPath::kIcon, &icon}}) {
      for (const std::u16string& tooLong :
           {TooLongForLink(kind, *path), TooLongForLink(kind, platform::ExpandVariables(*path))}) {
        if (!tooLong.empty()) Fail(tooLong);
      }
    }
    if (const std::u16string bad = fs::InvalidName(targetPath); !bad.empty()) {
      Fail(u"the target " + Quoted(targetPath) + u" holds the name " + Quoted(bad) +
           u", which Windows does not take; a link to it cannot work.");
    }

    // Everything is looked at before anything is made: the link's folder,
    // what stands under the link file's name, and whether that is the
    // target.
    if (!batch.shell) batch.shell = platform::CreateShell();
    const std::unique_ptr<platform::FolderObject> folder = batch.shell->NameSpace(FullOrFail(linkFolder));
    if (!folder) Fail(u"Object variable not set: the link folder " + Quoted(linkFolder) + u" was not found.");
    std::unique_ptr<platform::FolderItemObject> item = folder->Self();
    if (!item) Fail(u"Object variable not set: the link folder " + Quoted(linkFolder) + u" has no item.");
    const std::u16string folderPath = item->Path();
    std::u16string linkPath = JoinPath(folderPath, linkFileName);
    const auto folderBytes = platform::ToAnsiExact(folderPath);
    const auto nameBytes = platform::ToAnsiExact(linkFileName);
    if (!folderBytes || !nameBytes) Fail(u"cannot create the link file " + Quoted(linkPath) + u".");
    if (group.Full()) group.Commit();
    const platform::Handle held = group.Folder(*folderBytes);
    if (held == platform::kInvalidHandle) {
      Fail(u"cannot create the link file " + Quoted(linkPath), platform::GetLastError());
    }
    // A name a link of the group is to take is looked at once it has.
    if (group.Pending(held, *nameBytes)) group.Commit();
    bool there = false;
    const std::string name = OnDiskName(held, *nameBytes, folderPath, there);
    linkPath = JoinPath(folderPath, platform::FromAnsi(name));
    if (const std::u16string tooLong = TooLongForLink(LinkPath::kLinkFile, linkPath); !tooLong.empty()) {
      Fail(tooLong);
    }
    // The target's identity, taken now: should something take its place
    // meanwhile, or the target itself come to stand under the link's name,
    // it is still the file it was.
    const auto targetBytes =
        platform::ToAnsiExact(variables ? platform::ExpandVariables(targetPath) : targetPath);
    const std::optional<platform::FileId> targetId =
        targetBytes ? platform::GetFileIdA(*targetBytes, true) : std::nullopt;
    const auto isTheTarget = [&](const std::optional<platform::FileId>& id) { return id && id == targetId; };
    // Nothing to look at where the folder holds no such name.
    const std::uint32_t attributes = there ? Attributes(linkPath) : platform::kInvalidFileAttributes;
    if (attributes != platform::kInvalidFileAttributes) {
      // The link file itself, not what a symbolic link of that name leads
      // to, compared with the target as files, however either is spelt.
      if (isTheTarget(platform::GetFileIdAt(held, name))) {
        Fail(u"the link file " + Quoted(linkPath) + u" is the target itself.");
      }
      if ((attributes & platform::kAttrDirectory) != 0) {
        Fail(u"cannot create the link file " + Quoted(linkPath) + u": a folder of that name is in the way.");
      }
    }

    // The new link, complete under its temporary name (replace.h); in place
    // with its group.
    staged = group.StageEmpty(ReplaceTarget{held, name, linkPath, attributes != platform::kInvalidFileAttributes,
                                            targetId});
    const std::u16string temporaryName = platform::FromAnsi(group.TemporaryName(*staged));
    const std::unique_ptr<platform::FolderItemsObject> items = folder->Items();
    item = items ? items->Item(temporaryName) : nullptr;
    if (!item) Fail(u"Object variable not set: the Shell does not list " + Quoted(JoinPath(folderPath, temporaryName)) + u".");
    const std::unique_ptr<platform::ShellLinkObject> link = item->GetLink();
    if (!link) Fail(u"the Shell gave no link object for " + Quoted(JoinPath(folderPath, temporaryName)) + u".");

    // A target on a drive that is not here, or not there, is set by its
    // names; a share's or one of %VARIABLES% as a path, which the system
    // stores in its own way for such a path.
    if (properties.targetNotHere && !variables && !targetPath.starts_with(u"\\\\")) {
      link->SetPathNotHere(targetPath, properties.targetIsFolder);
    } else {
      link->SetPath(targetPath);
    }
    link->SetProperties(stored);
    try {
      link->Save();
    } catch (const platform::ShellFailure& failure) {
      if (!failure.description.empty()) throw;
      Fail(u"cannot write the link file " + Quoted(linkPath), failure.reason);
    }
    if (batch.bytesOnly != nullptr) {
      constexpr std::size_t kMostLinkBytes = 1 << 20;  // the Shell writes a few hundred bytes
      if (!platform::ReadFileAt(held, group.TemporaryName(*staged), kMostLinkBytes, *batch.bytesOnly)) {
        Fail(u"cannot read the link made in " + Quoted(folderPath), platform::GetLastError());
      }
      group.Drop(*staged);
      return true;
    }
    group.Filled(*staged);
    batch.last = *staged;
  } catch (const platform::ShellFailure& failure) {
    if (staged) group.Drop(*staged);
    console::ConsoleWriteLine(console::ErrorLine(failure.description, failure.reason));
    return false;
  } catch (const std::bad_alloc&) {
    if (staged) group.Drop(*staged);
    console::ConsoleWriteLine(console::ErrorLine(u"out of memory"));
    return false;
  }
  return true;
}

bool MakeLinkBytes(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                   std::u16string linkName, const platform::LinkProperties& properties, std::string& bytes) {
  LinkBatch batch;
  batch.bytesOnly = &bytes;
  return CreateShellLink(std::move(linkFolder), std::move(targetFolder), std::move(targetName), std::move(linkName),
                         properties, batch);
}

}  // namespace mklnk::shelllink
