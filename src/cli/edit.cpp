#include "cli/edit.h"

#include <algorithm>
#include <exception>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "console/line_writer.h"
#include "fs/paths.h"
#include "lnk/builder.h"
#include "lnk/editor.h"
#include "platform/platform.h"
#include "shelllink/replace.h"

namespace mklnk::cli {

namespace {

// A link is a few hundred bytes, a Windows-made one a few kilobytes; a
// file of more than this is no link, and is not read whole.
constexpr std::size_t kMostLinkBytes = 16 << 20;
// Folders below folders: deeper than this is a loop of mounts, not links.
constexpr int kMostDepth = 128;
// Files put in place together: one flush for as many.
constexpr std::size_t kGroup = 16384;

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

void Error(const std::u16string& what, std::uint32_t reason = 0) {
  console::ConsoleWriteLine(console::ErrorLine(what, reason));
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool EndsInLnk(std::string_view name) {
  if (name.size() < 5) return false;
  const std::string_view end = name.substr(name.size() - 4);
  return end[0] == '.' && AsciiUpper(end[1]) == u'L' && AsciiUpper(end[2]) == u'N' && AsciiUpper(end[3]) == u'K';
}

// A full path without its closing backslashes, but a drive root's.
std::u16string WithoutClosingBackslash(std::u16string path) {
  while (path.size() > 3 && path.back() == u'\\') path.pop_back();
  if (path.size() == 3 && path.starts_with(u"\\\\")) path.pop_back();
  return path;
}

// One file to edit: its folder and its name there, as the disk spells them.
struct File {
  std::u16string folder;
  std::string name;
  std::u16string Path() const { return fs::JoinPath(folder, platform::FromAnsi(name)); }
};

// The .lnk files below a folder, each folder's in name order, folders'
// after; a symbolic link is not followed.  False after an error line for
// a folder that could not be listed.
bool Below(const std::u16string& folder, int depth, std::vector<File>& files) {
  std::vector<platform::FolderEntry> entries;
  const std::optional<std::string> bytes = platform::ToAnsiExact(folder);
  if (depth > kMostDepth || !bytes || !platform::ListFolderA(*bytes, entries)) {
    Error(u"cannot list the folder " + Quoted(folder), depth > kMostDepth ? 0 : platform::GetLastError());
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
  bool ok = true;
  for (const platform::FolderEntry& entry : entries) {
    if (entry.kind == platform::FolderEntry::Kind::kFile && EndsInLnk(entry.name)) files.push_back({folder, entry.name});
  }
  for (const platform::FolderEntry& entry : entries) {
    if (entry.kind == platform::FolderEntry::Kind::kFolder) {
      ok = Below(fs::JoinPath(folder, platform::FromAnsi(entry.name)), depth + 1, files) && ok;
    }
  }
  return ok;
}

// The files the operands name.  False when any could not be taken, after
// its error line.
bool Operands(const std::vector<std::u16string>& operands, bool recursive, std::vector<File>& files) {
  bool ok = true;
  for (const std::u16string& operand : operands) {
    platform::SetLastError(0);
    const std::u16string full = WithoutClosingBackslash(fs::FullPath(operand));
    const std::optional<std::string> bytes = full.empty() ? std::nullopt : platform::ToAnsiExact(full);
    const std::uint32_t attributes = bytes ? platform::GetFileAttributesA(*bytes) : platform::kInvalidFileAttributes;
    if (attributes == platform::kInvalidFileAttributes) {
      const std::uint32_t reason = platform::GetLastError();
      Error(u"cannot edit " + Quoted(operand) + (platform::NotFound(reason) ? u": not found" : u""),
            platform::NotFound(reason) ? 0 : reason);
      ok = false;
    } else if ((attributes & platform::kAttrReparsePoint) != 0) {
      Error(u"cannot edit " + Quoted(full) + u": it is a symbolic link; name what it leads to.");
      ok = false;
    } else if ((attributes & platform::kAttrDirectory) != 0) {
      if (recursive) {
        ok = Below(full, 0, files) && ok;
      } else {
        Error(u"cannot edit " + Quoted(full) + u": it is a folder; --recursive edits the links below it.");
        ok = false;
      }
    } else {
      const fs::PathParts parts = fs::SplitPath(full, false);
      const std::optional<std::string> name = platform::ToAnsiExact(parts.name);
      files.push_back({WithoutClosingBackslash(parts.folder), name.value_or(std::string())});
    }
  }
  return ok;
}

// What the options change in every file, the paths made full as a new
// link's are: a folder or icon file relative to the current folder, the
// icon with %VARIABLES% stored as they lead here beside them as typed.
// Answers an error line's text, "" when all is well.
std::u16string CommonEdit(const EditOptions& e, const platform::LinkProperties& link, lnk::LinkEdit& edit) {
  const auto full = [](const std::u16string& path) {
    return path.empty() || fs::IsEnvironmentPath(path) ? path : fs::FullPath(path);
  };
  edit.fold = &platform::UpperCase;
  if (e.arguments) edit.arguments = link.arguments;
  if (e.description) edit.description = link.description;
  if (e.workingDirectory) {
    edit.workingDirectory = WithoutClosingBackslash(full(link.workingDirectory));
    if (edit.workingDirectory->empty() && !link.workingDirectory.empty()) {
      return u"cannot resolve " + Quoted(link.workingDirectory) + u" against the current folder";
    }
  }
  if (e.icon) {
    edit.iconIndex = link.iconIndex;
    if (link.iconLocation.find(u'%') == std::u16string::npos) {
      edit.iconLocation = full(link.iconLocation);
      if (edit.iconLocation->empty() && !link.iconLocation.empty()) {
        return u"cannot resolve " + Quoted(link.iconLocation) + u" against the current folder";
      }
    } else if (const std::u16string here = platform::ExpandVariables(link.iconLocation);
               here != link.iconLocation && here.find(u'%') == std::u16string::npos) {
      edit.iconLocation = here;
      edit.iconEnvironment = link.iconLocation;
    } else {
      edit.iconLocation = link.iconLocation;
    }
  }
  if (e.show) edit.showCommand = link.showCommand;
  if (e.hotKey) edit.hotKey = link.hotKey;
  if (e.admin) edit.runAsUser = true;
  if (e.appId) edit.appId = link.appId;
  if (e.replace) {
    std::u16string from = WithoutClosingBackslash(e.replaceOld), to = WithoutClosingBackslash(e.replaceNew);
    if (from.size() == 2) from += u'\\';
    if (to.size() == 2) to += u'\\';
    edit.replace = lnk::PathChange{from, to, &platform::UpperCase};
  }
  return {};
}

// The lines of a dry run for one file: what would change, field by field.
void ShowChanges(const std::u16string& path, const std::vector<lnk::FieldChange>& changes) {
  console::ConsoleWriteLine(u"would change " + Quoted(path) + u":");
  for (const lnk::FieldChange& change : changes) {
    const auto shown = [](const std::u16string& value) { return value.empty() ? u"(none)" : Quoted(value); };
    console::ConsoleWriteLine(u"  " + change.field + u": " + shown(change.before) + u" -> " + shown(change.after));
  }
}

}  // namespace

std::vector<std::u16string> SplitFileWords(std::u16string_view raw) {
  std::vector<std::u16string> words;
  std::u16string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char16_t c = raw[i];
    if (c == u' ' && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == u'"') {
      inWord = true;
      if (quoted && i + 1 < raw.size() && raw[i + 1] == u'"') {
        word += u'"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

int RunEdit(const std::vector<std::u16string>& operands, const Options& options) {
  const EditOptions& e = options.edit;
  const bool slash = !platform::AnswersLongOptions();
  const std::u16string editName = slash ? u"/EDIT" : u"--edit";
  if (operands.empty()) {
    Error(editName + u" takes the links to change, as in " + editName + u" a.lnk " +
          (slash ? u"/ARGS:-v" : u"--arguments=-v"));
    return kExitUsage;
  }
  if (e.targetType && !e.retarget) {
    Error(slash ? u"/TYPE tells what a new target is: it goes with /TARGET." :
                  u"--target-type tells what a new target is: it goes with --target.");
    return kExitUsage;
  }
  if (!(e.arguments || e.description || e.workingDirectory || e.icon || e.show || e.hotKey || e.admin || e.appId ||
        e.retarget || e.replace)) {
    Error(u"nothing to change in " + Quoted(operands.front()) + u"; the options say what to change");
    return kExitUsage;
  }
  if (e.retarget && e.replace) {
    Error(slash ? u"/TARGET and /REPLACE both change the target: give one." :
                  u"--target and --replace both change the target: give one.");
    return kExitUsage;
  }
  lnk::LinkEdit common;
  if (const std::u16string error = CommonEdit(e, options.link, common); !error.empty()) {
    Error(error, platform::GetLastError());
    return kExitFailed;
  }

  std::vector<File> files;
  bool ok = Operands(operands, e.recursive, files);
  // Each file is staged beside itself with its permissions, owner and
  // attributes, and the group put in place (replace.h): flushed at once,
  // then each renamed in one step.
  shelllink::ReplaceGroup group(kGroup);
  std::map<std::size_t, std::pair<File, bool>> staged;  // id: the file, and whether it was hidden
  const auto commit = [&] {
    group.Commit();
    // The group's lines in one write.
    std::u16string lines;
    for (const shelllink::ReplaceOutcome& outcome : group.TakeOutcomes()) {
      const auto& [file, hidden] = staged[outcome.id];
      const std::u16string path = file.Path();
      if (!outcome.done) {
        lines += console::ErrorLine(outcome.what, outcome.reason) + u"\r\n";
        ok = false;
        continue;
      }
      // The hidden attribute goes with the name (Windows; on Linux the
      // name's leading dot hides it, and this changes nothing).
      if (const std::optional<std::string> bytes = platform::ToAnsiExact(file.folder); hidden && bytes) {
        const platform::Handle held = platform::OpenFolderA(*bytes);
        if (held != platform::kInvalidHandle) {
          platform::HideFileA(held, file.name, true);
          platform::CloseFolder(held);
        }
      }
      lines += u"changed " + Quoted(path) + u"\r\n";
    }
    if (!lines.empty()) console::ConsoleWriteLine(lines);
    staged.clear();
  };
  // The new target, as a link made in each folder stores it.
  Options making;
  making.targetType = options.targetType;
  std::u16string madeIn;
  lnk::LinkEdit edit = common;
  bool folderOk = true;
  for (const File& file : files) {
    if (file.folder != madeIn) {
      madeIn = file.folder;
      edit.linkFolder = file.folder;
      folderOk = true;
      if (e.retarget) {
        std::string bytes;
        const std::u16string stem = platform::FromAnsi(file.name.substr(0, file.name.size() - 4));
        folderOk = RunLink(fs::JoinPath(file.folder, stem), e.target, making, nullptr, &bytes) == kExitOk;
        edit.targetLink = std::move(bytes);
      }
    }
    if (!folderOk) {
      ok = false;
      continue;
    }
    if (group.Full()) commit();
    const std::optional<std::string> folderBytes = platform::ToAnsiExact(file.folder);
    const platform::Handle folder = folderBytes ? group.Folder(*folderBytes) : platform::kInvalidHandle;
    std::string bytes;
    platform::FileState state;
    if (folder == platform::kInvalidHandle ||
        !platform::ReadFileAt(folder, file.name, kMostLinkBytes, bytes, &state)) {
      const std::uint32_t reason = platform::GetLastError();
      Error(u"cannot edit " + Quoted(file.Path()) +
                (reason == platform::kErrorFileTooLarge  ? u": it is too large to be a link."
                 : reason == platform::kErrorNotPlainFile ? u": it is not a plain file."
                                                         : u""),
            reason == platform::kErrorFileTooLarge || reason == platform::kErrorNotPlainFile ? 0 : reason);
      ok = false;
      continue;
    }
    lnk::EditResult result;
    try {
      result = lnk::EditLink(bytes, edit);
    } catch (const lnk::LinkDataError& error) {
      Error(u"cannot edit " + Quoted(file.Path()) + u": " + platform::FromAnsi(error.what()));
      ok = false;
      continue;
    }
    for (const std::u16string& field : result.textHolds) {
      console::ConsoleWriteLine(u"warning: the " + field + u" of " + Quoted(file.Path()) +
                                (field == u"arguments" ? u" hold " : u" holds ") + Quoted(e.replaceOld) +
                                u"; text, not a path, it stays as it is.");
    }
    if (result.bytes == bytes) continue;
    if (e.dryRun) {
      ShowChanges(file.Path(), result.changes);
      continue;
    }
    try {
      const std::size_t id = group.StageBytes(shelllink::ReplaceTarget{folder, file.name, file.Path(), true, std::nullopt},
                                              result.bytes);
      bool hidden = false;
      const bool kept = platform::KeepFileState(folder, state, group.TemporaryName(id), hidden) != 0;
      staged[id] = {file, hidden};
      if (!kept) {
        const std::uint32_t reason = platform::GetLastError();
        group.Drop(id);
        Error(u"cannot keep the owner and permissions of " + Quoted(file.Path()), reason);
        ok = false;
      }
    } catch (const platform::ShellFailure& failure) {
      Error(u"cannot edit " + Quoted(file.Path()), failure.reason);
      ok = false;
    }
  }
  commit();
  return ok ? kExitOk : kExitFailed;
}

}  // namespace mklnk::cli
