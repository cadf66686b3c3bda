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
#include "lnk/editor.h"
#include "platform/platform.h"

namespace mklnk::cli {

namespace {

// A link is a few hundred bytes, a Windows-made one a few kilobytes; a
// file of more than this is no link, and is not read whole.
constexpr std::size_t kMostLinkBytes = 16 << 20;
// Folders below folders: deeper than this is a loop of mounts, not links.
constexpr int kMostDepth = 128;

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
    if (link.iconPath.find(u'%') == std::u16string::npos) {
      edit.iconLocation = full(link.iconPath);
      if (edit.iconLocation->empty() && !link.iconPath.empty()) {
        return u"cannot resolve " + Quoted(link.iconPath) + u" against the current folder";
      }
    } else if (const std::u16string here = platform::ExpandVariables(link.iconPath);
               here != link.iconPath && here.find(u'%') == std::u16string::npos) {
      edit.iconLocation = here;
      edit.iconEnvironment = link.iconPath;
    } else {
      edit.iconLocation = link.iconPath;
    }
  }
  if (e.show) edit.showCommand = static_cast<std::uint32_t>(link.showCommand);
  if (e.hotKey) edit.hotKey = link.hotKey;
  if (e.admin) edit.runAsUser = true;
  if (e.replace) {
    // Full paths, a drive's or a share's: a relative one would mean one
    // thing here and another where the link is opened.
    const auto share = [](std::u16string_view p) {
      const std::size_t server = p.find(u'\\', 2);
      return p.starts_with(u"\\\\") && server != std::u16string_view::npos && server > 2 && server + 1 < p.size();
    };
    for (const std::u16string* path : {&e.replaceOld, &e.replaceNew}) {
      const bool drive = path->size() >= 2 && (*path)[1] == u':' && AsciiUpper((*path)[0]) >= u'A' &&
                         AsciiUpper((*path)[0]) <= u'Z' && (path->size() == 2 || (*path)[2] == u'\\');
      if (!drive && !share(*path)) {
        return u"--replace takes full paths, a drive's (C:\\...) or a share's (\\\\server\\share...): " + Quoted(*path);
      }
    }
    std::u16string from = WithoutClosingBackslash(e.replaceOld), to = WithoutClosingBackslash(e.replaceNew);
    if (from.size() == 2) from += u'\\';
    if (to.size() == 2) to += u'\\';
    edit.replace = lnk::PathChange{from, to, &platform::UpperCase};
  }
  return {};
}

// ---- replacing the files ---------------------------------------------------
//
// Each file of a folder that changes is written complete under a temporary
// name beside it, with its permissions, owner and attributes; then all are
// flushed at once, each put in its file's place with one replacing rename,
// and the folder flushed: a crash leaves every file old or new.

class FolderReplacement {
 public:
  explicit FolderReplacement(const std::u16string& folder) : folder_(folder) {
    const std::optional<std::string> bytes = platform::ToAnsiExact(folder);
    handle_ = bytes ? platform::OpenFolderA(*bytes) : platform::kInvalidHandle;
    reason_ = handle_ == platform::kInvalidHandle ? platform::GetLastError() : 0;
  }
  FolderReplacement(const FolderReplacement&) = delete;
  FolderReplacement& operator=(const FolderReplacement&) = delete;
  ~FolderReplacement() {
    for (const Staged& staged : staged_) platform::RemoveFileA(handle_, staged.temporary);
    if (deferred_) platform::AllowInterrupts();
    if (handle_ != platform::kInvalidHandle) platform::CloseFolder(handle_);
  }

  platform::Handle handle() const { return handle_; }
  std::uint32_t reason() const { return reason_; }

  // The new bytes of `name`, staged.  False when they cannot be.
  bool Stage(const std::string& name, const std::string& bytes) {
    if (!deferred_) platform::DeferInterrupts();
    deferred_ = true;
    const std::string stem = ".mklnk-" + std::to_string(platform::ProcessId()) + "-";
    for (int tries = 0; tries < 10; ++tries) {
      std::string temporary = stem + std::to_string(next_++) + ".lnk";
      if (platform::WriteNewFileLikeA(handle_, temporary, bytes, name) != 0) {
        staged_.push_back({name, std::move(temporary)});
        return true;
      }
      if (platform::GetLastError() != platform::kErrorFileExists) break;
    }
    return false;
  }

  // Puts every staged file in place; `done` hears of each, and of its
  // failure's reason (0 when it took its place).
  template <typename Done>
  void Commit(Done done) {
    std::vector<std::string> names;
    for (const Staged& staged : staged_) names.push_back(staged.temporary);
    const bool flushed = names.empty() || platform::FlushFilesA(handle_, names) != 0;
    const std::uint32_t flushReason = flushed ? 0 : platform::GetLastError();
    for (const Staged& staged : staged_) {
      std::uint32_t reason = flushReason;
      if (flushed && platform::ReplaceFileA(handle_, staged.temporary, staged.name) == 0) {
        reason = platform::GetLastError();
        if (reason == 0) reason = platform::kErrorNotPlainFile;
      }
      if (reason != 0) platform::RemoveFileA(handle_, staged.temporary);
      done(staged.name, reason);
    }
    staged_.clear();
    if (flushed) platform::FlushFolderA(handle_);
  }

 private:
  struct Staged {
    std::string name, temporary;
  };
  std::u16string folder_;
  platform::Handle handle_ = platform::kInvalidHandle;
  std::uint32_t reason_ = 0;
  std::vector<Staged> staged_;
  int next_ = 0;
  bool deferred_ = false;
};

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
  if (!(e.arguments || e.description || e.workingDirectory || e.icon || e.show || e.hotKey || e.admin ||
        e.retarget || e.replace)) {
    Error(u"nothing to change in " + Quoted(operands.front()) + u"; the options say what to change");
    return kExitUsage;
  }
  if (e.targetType && !e.retarget) {
    Error(slash ? u"/TYPE tells what a new target is: it goes with /TARGET." :
                  u"--target-type tells what a new target is: it goes with --target.");
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
    return e.replace && !e.workingDirectory && !e.icon ? kExitUsage : kExitFailed;
  }

  std::vector<File> files;
  bool ok = Operands(operands, e.recursive, files);
  // The new target, as a link made in each folder stores it.
  Options making;
  making.targetType = options.targetType;
  std::size_t i = 0;
  while (i < files.size()) {
    const std::u16string folder = files[i].folder;
    std::size_t end = i;
    while (end < files.size() && files[end].folder == folder) ++end;
    lnk::LinkEdit edit = common;
    edit.linkFolder = folder;
    FolderReplacement replacement(folder);
    bool folderOk = replacement.handle() != platform::kInvalidHandle;
    if (!folderOk) {
      Error(u"cannot edit the links in " + Quoted(folder), replacement.reason());
    } else if (e.retarget) {
      std::string bytes;
      const std::u16string stem = platform::FromAnsi(files[i].name.substr(0, files[i].name.size() - 4));
      folderOk = RunLink(fs::JoinPath(folder, stem), e.target, making, &bytes) == kExitOk;
      edit.targetLink = std::move(bytes);
    }
    std::map<std::string, std::u16string> changed;  // staged file, its line
    for (; i < end; ++i) {
      const File& file = files[i];
      if (!folderOk) {
        ok = false;
        continue;
      }
      std::string bytes;
      if (!platform::ReadFileAt(replacement.handle(), file.name, kMostLinkBytes, bytes)) {
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
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::exception& error) {
        Error(u"cannot edit " + Quoted(file.Path()) + u": " + platform::FromAnsi(error.what()));
        ok = false;
        continue;
      }
      for (const std::u16string& field : result.textHolds) {
        console::ConsoleWriteLine(u"warning: the " + field + u" of " + Quoted(file.Path()) + u" hold " +
                                  Quoted(e.replaceOld) + u", and stay as they are: they are text, not a path.");
      }
      if (result.bytes == bytes) continue;
      if (e.dryRun) {
        ShowChanges(file.Path(), result.changes);
        continue;
      }
      if (!replacement.Stage(file.name, result.bytes)) {
        Error(u"cannot edit " + Quoted(file.Path()), platform::GetLastError());
        ok = false;
        continue;
      }
      changed[file.name] = file.Path();
    }
    replacement.Commit([&](const std::string& name, std::uint32_t reason) {
      if (reason == 0) {
        console::ConsoleWriteLine(u"changed " + Quoted(changed[name]));
      } else {
        Error(u"cannot replace " + Quoted(changed[name]), reason);
        ok = false;
      }
    });
  }
  return ok ? kExitOk : kExitFailed;
}

}  // namespace mklnk::cli
