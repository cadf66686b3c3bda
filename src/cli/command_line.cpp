#include "cli/command_line.h"

#include <exception>
#include <vector>

#include "cli/edit.h"
#include "cli/list.h"
#include "cli/options.h"
#include "cli/read.h"
#include "common/text.h"
#include "console/line_writer.h"
#include "fs/paths.h"
#include "platform/platform.h"
#include "shelllink/writer.h"

namespace mklnk::cli {

using text::Contains;
using text::Find;
using text::Left;
using text::Mid;
using text::Trim;

namespace {

constexpr char16_t kQuote[] = u"\"";
constexpr char16_t kSpace[] = u" ";
constexpr char16_t kShorcutLink[] = u"Shorcut link";
constexpr char16_t kTargetFile[] = u"Target file";

SplitResult Usage() { return SplitResult{}; }

// A relative path names nothing while the current folder cannot be read (it
// was removed, or its name is bytes that are no text here); that is what
// the user must hear about, not that the target is missing.
int CurrentFolderUnreadable(std::uint32_t reason) {
  console::ConsoleWriteLine(console::ErrorLine(u"cannot read the current folder", reason));
  return kExitFailed;
}

// The characters strictly between two positions.
std::u16string Between(std::u16string_view s, std::size_t open, std::size_t close) {
  return Mid(s, open + 1, close - open - 1);
}

// An unquoted link: the text before the first space, the rest is the target.
void SplitAtFirstSpace(std::u16string_view raw, std::size_t space, SplitResult& r) {
  r.link = Trim(Left(raw, space));
  r.target = Trim(Mid(raw, space));
}

}  // namespace

SplitResult SplitArguments(std::u16string_view raw) {
  SplitResult r;
  const std::size_t quote1 = Find(raw, kQuote);
  const std::size_t quote2 = Find(raw, kQuote, quote1 + 1);
  const std::size_t space1 = Find(raw, kSpace);

  if (quote1 == 0 || quote2 == 0) {
    // No quoted pair: split at the first space.
    if (space1 == 0) return Usage();
    if (Find(raw, u"/") == 1) return Usage();
    SplitAtFirstSpace(raw, space1, r);
    if (const std::size_t slash = Find(r.target, u"/"); slash > 0) {
      r.target = Trim(Left(r.target, slash - 1));
    }
  } else if (space1 == 0) {
    return Usage();
  } else if (quote1 == 1) {
    // A quoted link: it keeps its double quotes only when it holds a space.
    r.link = Left(raw, quote2);
    if (!Contains(r.link, kSpace)) r.link = Between(raw, quote1, quote2);
    const std::size_t quote3 = Find(raw, kQuote, quote2 + 1);
    if (quote3 > 0) {
      const std::size_t quote4 = Find(raw, kQuote, quote3 + 1);
      // A third double quote without a fourth leaves the target open; such a
      // line cannot be split, like every other one that gets the usage text.
      if (quote4 == 0) return Usage();
      r.target = Mid(raw, quote3, quote4 - quote3 + 1);
      if (!Contains(r.target, kSpace)) r.target = Between(raw, quote3, quote4);
    } else {
      const std::size_t space2 = Find(raw, kSpace, quote2);
      if (space2 == 0) return Usage();
      r.target = Trim(Mid(raw, space2));
      if (const std::size_t space = Find(r.target, kSpace); space > 0) {
        r.target = Trim(Left(r.target, space));
      }
    }
  } else {
    // The first double quote later in the string.
    SplitAtFirstSpace(raw, space1, r);
    if (!Contains(r.target, kSpace)) r.target = Between(raw, quote1, quote2);
  }

  if (Contains(raw, u"/showargs")) {
    r.outcome = Outcome::Echo;
  } else if (Contains(raw, u"/")) {
    return Usage();
  } else {
    r.outcome = Outcome::Run;
  }
  return r;
}

std::u16string UsageText() {
  std::u16string s = platform::FileDescription();
  s += u".\r\n\r\n";
  s += platform::UpperCase(platform::ExecutableBaseName());
  s += u" \"";
  s += kShorcutLink;
  s += u"\" \"";
  s += kTargetFile;
  s += u"\"\r\n\r\n";
  s += kShorcutLink;
  s += u"\tSpecifies the path and name of the link to create.\r\n";
  s += kTargetFile;
  s += u"\tSpecifies the folder or the path and file of the document or program to link.";
  return s;
}

int RunLink(const std::u16string& link, const std::u16string& target, const Options& options,
            shelllink::LinkBatch* batch, std::string* bytesOnly) {
  const std::u16string bare = fs::StripQuotes(target);
  // What /TYPE says must be a path that can be it: a share with a server and
  // a share, no device, no folder's path (a trailing backslash) for a file.
  if (options.targetType != TargetType::kUnsaid) {
    std::u16string fault = fs::NetworkPathFault(bare);
    if (fault.empty() && options.targetType == TargetType::kFile && !bare.empty()) {
      if (bare.back() == u'\\') {
        fault = u"the target " + target + u" ends in a backslash, which makes it a folder's path, but /TYPE says file";
      } else if (bare.size() == 2 && bare[1] == u':') {
        fault = u"the target " + target + u" is a drive's folder, but /TYPE says file";
      }
    }
    if (!fault.empty()) {
      console::ConsoleWriteLine(console::ErrorLine(fault));
      return kExitUsage;
    }
  }
  // A target that a link of the list is yet to be put in place as is looked
  // at once it is.
  if (batch != nullptr) CommitBefore(*batch, bare);
  // A target with %VARIABLES% is looked for where they lead here; it is
  // stored as typed, for the machine that opens the link to expand.
  const bool variables = fs::IsEnvironmentPath(bare);
  const std::u16string looked = variables ? platform::ExpandVariables(bare) : target;
  // Both tests are always made.
  bool isFolder = fs::FolderExists(looked);
  platform::SetLastError(0);
  // Windows opens no file by a name with a backslash after it ("tool.exe\"):
  // such a file is not there.
  const bool found = fs::FileExists(looked);
  const bool isFile = found && (variables ? looked : bare).back() != u'\\';
  const std::uint32_t why = found ? 0 : platform::GetLastError();
  platform::LinkProperties properties = options.link;
  if (!isFolder && !isFile) {
    if (options.targetType == TargetType::kUnsaid || !platform::NotFound(why)) {
      platform::SetLastError(0);
      if (!variables && !fs::IsFullPath(bare) && !bare.empty() && fs::FullPath(bare).empty() &&
          platform::GetLastError() != 0) {
        return CurrentFolderUnreadable(platform::GetLastError());
      }
      // A target that could not be looked at is not said to be missing.
      const std::u16string line = platform::NotFound(why) ? target + u" not found" : u"cannot look at " + target;
      console::ConsoleWriteLine(console::ErrorLine(line, platform::NotFound(why) ? 0 : why));
      return kExitFailed;
    }
    // A target for another machine, as /TYPE says it is.
    isFolder = options.targetType == TargetType::kFolder;
    properties.targetNotHere = true;
    properties.targetIsFolder = isFolder;
  } else if (options.targetType != TargetType::kUnsaid && (options.targetType == TargetType::kFolder) != isFolder) {
    console::ConsoleWriteLine(
        console::ErrorLine(target + (isFolder ? u" is a folder, not a file" : u" is a file, not a folder")));
    return kExitFailed;
  }
  platform::SetLastError(0);
  const fs::PathParts linkParts = fs::SplitPath(link);
  if (linkParts.folder.empty()) return CurrentFolderUnreadable(platform::GetLastError());
  // "C:report.txt" holds no backslash, and the split would take it whole as
  // a name in the current directory; it names a file in drive C:'s current
  // directory, which is what the tests above found.  Made full, it splits
  // into that folder and the name.
  const bool driveRelative = bare.size() >= 2 && bare[1] == u':' && bare.find(u'\\') == std::u16string::npos;
  // "%ComSpec%" is a name in no folder of this machine's.
  const fs::PathParts targetParts = variables && bare.find(u'\\') == std::u16string::npos
                                        ? fs::PathParts{isFolder ? bare : u"", isFolder ? u"" : bare}
                                        : fs::SplitPath(driveRelative ? fs::FullPath(bare) : target, isFolder);
  if (bytesOnly != nullptr) {
    return shelllink::MakeLinkBytes(linkParts.folder, targetParts.folder, targetParts.name, linkParts.name, properties,
                                    *bytesOnly)
               ? kExitOk
               : kExitFailed;
  }
  if (batch != nullptr ? !shelllink::CreateShellLink(linkParts.folder, targetParts.folder, targetParts.name,
                                                     linkParts.name, properties, *batch)
                       : !shelllink::CreateShellLink(linkParts.folder, targetParts.folder, targetParts.name,
                                                     linkParts.name, properties)) {
    return kExitFailed;
  }
  console::ConsoleWriteLine(u"shortcut created for " + link + u" <<===>> " + target);
  return kExitOk;
}

namespace {

// The run of a command line: the process's own (no line), or a list's line.
int Run(const std::u16string* line, shelllink::LinkBatch* batch) {
  OptionReader options;
  std::vector<std::u16string> words;
  const bool byWords = line == nullptr && platform::ArgumentWords(words);
  std::u16string raw;
  if (line != nullptr) {
    raw = *line;
  } else if (byWords) {
    // GNU long options are the Linux command's own, and go first.
    options.TakeLongOptions(words);
    raw = platform::JoinArgumentWords(words);
  } else {
    raw = platform::RawArgumentString();
  }
  SplitResult r = SplitArguments(raw);
  // Slash options, only from a line that gets the usage text without them
  // (or one that edits links; after --read, the words are files).
  if ((r.outcome == Outcome::Usage || options.options().edit.on) && options.error().empty() &&
      options.options().read == ReadMode::kNone) {
    if (byWords) {
      options.TakeSlashOptions(words);
      raw = platform::JoinArgumentWords(words);
    } else {
      raw = options.TakeSlashOptions(raw);
    }
    r = SplitArguments(raw);
  }
  if (!options.error().empty()) {
    console::ConsoleWriteLine(console::ErrorLine(options.error()));
    return kExitUsage;
  }
  if (!options.options().from.empty()) {
    // A list is the whole command line.
    const std::u16string rest = !raw.empty() ? raw : options.options().echo.size() > 1 ? u"other options" : u"";
    return RunList(options.options().from, rest, batch != nullptr);
  }
  if (options.options().edit.on && options.options().read != ReadMode::kNone) {
    console::ConsoleWriteLine(console::ErrorLine(u"a run either reads links or edits them: not both."));
    return kExitUsage;
  }
  // A list's line that reads or edits links sees those of the lines before
  // it in place.
  if (batch != nullptr && (options.options().edit.on || options.options().read != ReadMode::kNone)) {
    batch->group.Commit();
  }
  if (options.options().read != ReadMode::kNone) return RunReadMode(options, byWords ? words : ReadOperands(raw));
  if (options.options().edit.on) return RunEdit(byWords ? words : SplitFileWords(raw), options.options());
  switch (r.outcome) {
    case Outcome::Usage:
      console::ConsoleWriteLine(UsageText());
      return kExitUsage;
    case Outcome::Echo:
      console::ConsoleWriteLine(u"Parameters: " + r.link + u" " + r.target);
      for (const std::u16string& echoed : options.options().echo) console::ConsoleWriteLine(echoed);
      return kExitOk;
    case Outcome::Run:
      break;
  }
  return RunLink(r.link, r.target, options.options(), batch);
}

}  // namespace

int RunCommandLine() { return Run(nullptr, nullptr); }

int RunCommandLine(const std::u16string& raw, shelllink::LinkBatch& batch) { return Run(&raw, &batch); }

int Main() {
  console::SetStdOutput(platform::GetStdHandle(platform::kStdOutputHandle));
  try {
    const std::u16string raw = platform::RawArgumentString();
    if (raw.empty() || raw == u"/?" || raw == u"/help") {
      console::ConsoleWriteLine(UsageText());
      return kExitOk;
    }
    // Where every command answers them (Linux), and only then: on Windows
    // they go the way of any other argument string.
    // They are its own words wherever they stand before "--", as GNU
    // commands answer them.
    if (platform::AnswersLongOptions()) {
      std::vector<std::u16string> words;
      platform::ArgumentWords(words);
      for (const std::u16string& word : words) {
        if (word == u"--") break;
        if (word == u"--help") {
          console::ConsoleWriteLine(UsageText() + u"\r\n\r\n" + OptionsText());
          return kExitOk;
        }
        if (word == u"--version") {
          console::ConsoleWriteLine(u"mklnk " + platform::ProductVersion());
          return kExitOk;
        }
      }
    }
    return RunCommandLine();
  } catch (const std::exception& e) {
    // Nothing below is expected to throw; should it (out of memory), say so
    // in the tool's own way instead of aborting.
    console::ConsoleWriteLine(console::ErrorLine(platform::FromAnsi(e.what())));
  }
  return kExitInternalError;
}

}  // namespace mklnk::cli
