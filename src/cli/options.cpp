#include "cli/options.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "common/text.h"
#include "fs/paths.h"

namespace mklnk::cli {

using mklnk::text::Decimal;

namespace {

enum class Id { Args, WorkDir, Desc, Icon, Show, HotKey, Admin, Type, AppId, Read, Json, Command, Edit, Target,
                Replace, Recursive, DryRun, From };

// What Windows keeps: a process's command line holds 32,767 characters, a
// link's description INFOTIPSIZE (1,024), each with its terminating NUL.
// (A path's limit is the writer's, which counts the path made full.)
constexpr std::size_t kMaxArguments = 32767;
constexpr std::size_t kMaxDescription = 1023;
// The paths of --replace, compared as typed, never made full.
constexpr std::size_t kMaxPath = 259;
// An application's AppUserModelID: at most 128 characters, no spaces, as
// Windows defines it (Company.Product.SubProduct.Version).
constexpr std::size_t kMaxAppId = 128;

// Whether the text holds half of a UTF-16 pair alone: a byte that is not
// UTF-8 on Linux, where a Windows program would see "?", and a link would
// hold what no reader shows.
bool LoneSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF, low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
    if (low || (high && (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF))) return true;
    if (high) ++i;
  }
  return false;
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool SameLetters(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// A whole number of the 32 bits an icon index has, or nothing.
std::optional<std::int32_t> Index(std::u16string_view text) {
  const bool negative = !text.empty() && text.front() == u'-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t n = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c - u'0');
  }
  if (negative) n = -n;
  if (n < INT32_MIN || n > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(n);
}

// "Ctrl+Alt+K": the modifiers, each once, and a letter, a digit or F1 to
// F24; as the hot key word (virtual key, HOTKEYF_* above it) and in the
// spelling /showargs shows.  A letter or a digit needs Ctrl or Alt, as the
// Shell's own hot key field wants: alone, or with Shift, it would be typing.
std::optional<std::uint16_t> HotKey(std::u16string_view text, std::u16string& shown) {
  constexpr std::uint16_t kShift = 0x100, kControl = 0x200, kAlt = 0x400;
  std::uint16_t modifiers = 0;
  for (;;) {
    const std::size_t plus = text.find(u'+');
    if (plus == std::u16string_view::npos) break;
    const std::u16string_view word = text.substr(0, plus);
    std::uint16_t bit = 0;
    if (SameLetters(word, u"Ctrl")) bit = kControl;
    if (SameLetters(word, u"Alt")) bit = kAlt;
    if (SameLetters(word, u"Shift")) bit = kShift;
    if (bit == 0 || (modifiers & bit) != 0) return std::nullopt;
    modifiers |= bit;
    text.remove_prefix(plus + 1);
  }
  std::uint16_t key = 0;
  std::u16string name;
  if (text.size() == 1 && ((AsciiUpper(text[0]) >= u'A' && AsciiUpper(text[0]) <= u'Z') ||
                           (text[0] >= u'0' && text[0] <= u'9'))) {
    key = AsciiUpper(text[0]);
    name = std::u16string(1, static_cast<char16_t>(key));
    if ((modifiers & (kControl | kAlt)) == 0) return std::nullopt;
  } else if (text.size() >= 2 && AsciiUpper(text[0]) == u'F') {
    const std::optional<std::int32_t> n = text[1] == u'-' ? std::nullopt : Index(text.substr(1));
    if (!n || *n < 1 || *n > 24 || text[1] == u'0') return std::nullopt;
    key = static_cast<std::uint16_t>(0x70 + *n - 1);  // VK_F1 ...
    name = u"F" + Decimal(*n);
  } else {
    return std::nullopt;
  }
  shown.clear();
  if (modifiers & kControl) shown += u"Ctrl+";
  if (modifiers & kAlt) shown += u"Alt+";
  if (modifiers & kShift) shown += u"Shift+";
  shown += name;
  return static_cast<std::uint16_t>(modifiers | key);
}

// "C:", "C:\..." or "\\server\share...".
bool FullPath(std::u16string_view p) {
  const bool drive = p.size() >= 2 && p[1] == u':' && AsciiUpper(p[0]) >= u'A' && AsciiUpper(p[0]) <= u'Z' &&
                     (p.size() == 2 || p[2] == u'\\');
  const std::size_t server = p.find(u'\\', 2);
  return drive || (p.starts_with(u"\\\\") && server != std::u16string_view::npos && server > 2 && server + 1 < p.size());
}

}  // namespace

struct KnownOption {
  Id id;
  std::u16string_view slash;  // after the "/", in capitals
  std::u16string_view gnu;    // after the "--"
  bool takesValue;
};

namespace {

constexpr KnownOption kKnownOptions[] = {
    {Id::Args, u"ARGS", u"arguments", true},
    {Id::WorkDir, u"WORKDIR", u"working-directory", true},
    {Id::Desc, u"DESC", u"description", true},
    {Id::Icon, u"ICON", u"icon", true},
    {Id::Show, u"SHOW", u"show", true},
    {Id::HotKey, u"HOTKEY", u"hotkey", true},
    {Id::Admin, u"ADMIN", u"run-as-admin", false},
    {Id::Type, u"TYPE", u"target-type", true},
    {Id::AppId, u"APPID", u"app-id", true},
    {Id::From, u"FROM", u"from", true},
    {Id::Read, u"READ", u"read", false},
    {Id::Json, u"JSON", u"json", false},
    {Id::Command, u"COMMAND", u"command", false},
    {Id::Edit, u"EDIT", u"edit", false},
    {Id::Target, u"TARGET", u"target", true},
    {Id::Replace, u"REPLACE", u"replace", true},
    {Id::Recursive, u"RECURSIVE", u"recursive", false},
    {Id::DryRun, u"DRYRUN", u"dry-run", false},
};

// The option that a word beginning with "/" names, and where its name ends
// (at a colon, a space or the end); null for any other word.
const KnownOption* SlashOption(std::u16string_view text, std::size_t& end) {
  end = 1;
  while (end < text.size() && text[end] != u':' && text[end] != u' ') ++end;
  const std::u16string_view name = text.substr(1, end - 1);
  const KnownOption* option = std::find_if(std::begin(kKnownOptions), std::end(kKnownOptions),
                                           [name](const KnownOption& known) { return SameLetters(name, known.slash); });
  return option == std::end(kKnownOptions) ? nullptr : option;
}

// One text of several parts, built in one place: the error lines and the
// echo are many such texts, and their code is written once.
std::u16string Cat(std::initializer_list<std::u16string_view> parts) {
  std::u16string text;
  for (const std::u16string_view part : parts) text += part;
  return text;
}

}  // namespace

void OptionReader::Apply(const KnownOption& option, std::u16string_view given, const std::u16string* value) {
  // What the option takes, for the error line when the value is not it.
  std::u16string_view takes;
  std::size_t most = 0;  // the longest value, when it has a limit
  const std::uint32_t bit = 1u << static_cast<unsigned>(option.id);
  if ((seen_ & bit) != 0) {
    takes = u"is given twice";
  } else if (option.takesValue && value == nullptr) {
    error_ = Cat({given, u" takes a value, as in ", given, given[0] == u'/' ? u":" : u"=", u"VALUE."});
    return;
  } else if (!option.takesValue && value != nullptr) {
    takes = u"takes no value";
  }
  seen_ |= bit;
  if (!takes.empty()) {
    error_ = Cat({given, u" ", takes, u"."});
    return;
  }
  if (value != nullptr && LoneSurrogate(*value)) {
    error_ = Cat({given, u" holds bytes that are not UTF-8 text."});
    return;
  }
  platform::LinkProperties& link = options_.link;
  EditOptions& edit = options_.edit;
  std::u16string echo;
  // An edit's own options, refused when no link is edited.
  const auto editOnly = [&] {
    Defer(Cat({given, u" changes links: it goes with ", given[0] == u'/' ? u"/EDIT" : u"--edit", u"."}));
  };
  switch (option.id) {
    case Id::Args:
      most = kMaxArguments;
      edit.arguments = true;
      link.arguments = *value;
      echo = Cat({u"Arguments: ", *value});
      break;
    case Id::WorkDir:
      edit.workingDirectory = true;
      // An edit takes an empty folder for "remove it".
      if (value->empty()) Defer(Cat({given, u" takes a folder: \"\"."}));
      if (const std::u16string bad = fs::InvalidName(*value); !bad.empty()) return RefuseName(given, bad, *value);
      link.workingDirectory = *value;
      echo = Cat({u"Working directory: ", *value});
      break;
    case Id::Desc:
      most = kMaxDescription;
      edit.description = true;
      link.description = *value;
      echo = Cat({u"Description: ", *value});
      break;
    case Id::Icon: {
      // The index follows the last comma; a file named with a comma takes
      // one after it too ("a,b.ico,0").
      const std::size_t comma = value->rfind(u',');
      const std::optional<std::int32_t> index = Index(comma == std::u16string::npos ? u"0" : value->substr(comma + 1));
      link.iconLocation = value->substr(0, comma);
      link.iconIndex = index.value_or(0);
      edit.icon = true;
      if (value->empty()) {
        // An edit takes no icon file for "remove it".
        Defer(Cat({given, u" takes an icon file and, after a comma, the icon's index, as in shell32.dll,3: \"\"."}));
      } else if (!index || link.iconLocation.empty()) {
        takes = u"takes an icon file and, after a comma, the icon's index, as in shell32.dll,3";
      } else if (const std::u16string bad = fs::InvalidName(link.iconLocation); !bad.empty()) {
        return RefuseName(given, bad, *value);
      }
      echo = Cat({u"Icon: ", link.iconLocation, u", index ", Decimal(link.iconIndex)});
      break;
    }
    case Id::Show: {
      static constexpr struct {
        std::u16string_view word, shown;
        std::uint32_t command;
      } kShows[] = {{u"normal", u"normal", 1}, {u"max", u"maximized", 3}, {u"min", u"minimized", 7}};
      takes = u"takes normal, max or min";
      edit.show = true;
      for (const auto& show : kShows) {
        if (SameLetters(*value, show.word)) {
          link.showCommand = show.command;
          echo = Cat({u"Show: ", show.shown});
          takes = {};
        }
      }
      break;
    }
    case Id::HotKey: {
      std::u16string shown;
      const std::optional<std::uint16_t> key = HotKey(*value, shown);
      link.hotKey = key.value_or(0);
      edit.hotKey = true;
      if (!key) {
        takes = u"takes Ctrl, Alt or Shift and a key (A to Z, 0 to 9, F1 to F24), joined by +, as in Ctrl+Alt+K";
      }
      echo = Cat({u"Hot key: ", shown});
      break;
    }
    case Id::Admin:
      link.runAsAdministrator = true;
      edit.admin = true;
      echo = u"Run as administrator";
      break;
    case Id::Type:
      takes = u"takes file or folder";
      if (SameLetters(*value, u"file") || SameLetters(*value, u"folder")) {
        options_.targetType = value->size() == 4 ? TargetType::kFile : TargetType::kFolder;
        echo = options_.targetType == TargetType::kFile ? u"Target type: file" : u"Target type: folder";
        edit.targetType = true;
        takes = {};
      }
      break;
    case Id::AppId:
      most = kMaxAppId;
      edit.appId = true;
      if (value->empty()) {
        // An edit takes an empty ID for "remove it".
        Defer(Cat({given, u" takes an application ID without spaces, as in Company.Product: \"\"."}));
      } else if (value->find(u' ') != std::u16string::npos) {
        takes = u"takes an application ID without spaces, as in Company.Product";
      }
      link.appId = *value;
      echo = Cat({u"AppUserModelID: ", *value});
      break;
    case Id::From:
      if (value->empty()) takes = u"takes a file of command lines, or - for standard input";
      options_.from = *value;
      echo = Cat({u"List: ", *value});
      break;
    case Id::Edit:
      edit.on = true;
      echo = u"Edit";
      break;
    case Id::Target:
      editOnly();
      if (value->empty()) takes = u"takes a path";
      edit.retarget = true;
      edit.target = *value;
      echo = Cat({u"Target: ", *value});
      break;
    case Id::Replace: {
      editOnly();
      // '|' is in no Windows path: it parts the two.
      const std::size_t bar = value->find(u'|');
      if (bar == 0 || bar == std::u16string::npos || bar + 1 == value->size() ||
          value->find(u'|', bar + 1) != std::u16string::npos) {
        takes = u"takes two paths joined by |, as in \\\\old\\share|\\\\new\\share";
      } else if (!FullPath(value->substr(0, bar)) || !FullPath(value->substr(bar + 1))) {
        // A relative path would mean one thing here and another where the
        // link is opened.
        takes = u"takes full paths, a drive's (C:\\...) or a share's (\\\\server\\share...)";
      } else if (bar > kMaxPath || value->size() - bar - 1 > kMaxPath) {
        error_ = Cat({given, u" takes paths of at most 259 characters."});
        return;
      }
      edit.replace = true;
      edit.replaceOld = value->substr(0, bar);
      edit.replaceNew = bar == std::u16string::npos ? std::u16string() : value->substr(bar + 1);
      echo = Cat({u"Replace: ", edit.replaceOld, u" with ", edit.replaceNew});
      break;
    }
    case Id::Recursive:
      editOnly();
      edit.recursive = true;
      echo = u"Recursive";
      break;
    case Id::DryRun:
      editOnly();
      edit.dryRun = true;
      echo = u"Dry run";
      break;
    case Id::Read:
      options_.read = options_.read == ReadMode::kNone ? ReadMode::kText : options_.read;
      break;
    case Id::Json:
    case Id::Command:
      if (options_.read == ReadMode::kJson || options_.read == ReadMode::kCommand) {
        error_ = u"--json and --command cannot be used together; /JSON and /COMMAND neither.";
        return;
      }
      options_.read = option.id == Id::Json ? ReadMode::kJson : ReadMode::kCommand;
      break;
  }
  if (!takes.empty()) {
    error_ = Cat({given, u" ", takes, u": \"", *value, u"\"."});
  } else if (most != 0 && value->size() > most) {
    error_ = Cat({given, u" takes at most ", Decimal(static_cast<std::int64_t>(most)), u" characters; this one has ",
                  Decimal(static_cast<std::int64_t>(value->size())), u"."});
  } else if (!echo.empty()) {
    options_.echo.push_back(std::move(echo));
  }
}

void OptionReader::RefuseName(std::u16string_view given, std::u16string_view name, std::u16string_view value) {
  error_ = Cat({given, u" holds the name \"", name, u"\", which Windows does not take in a path: \"", value, u"\"."});
}

void OptionReader::Defer(std::u16string text) {
  if (error_.empty() && makingError_.empty()) makingError_ = std::move(text);
}

std::u16string OptionReader::TakeSlashOptions(std::u16string_view raw) {
  std::u16string rest;
  std::size_t copied = 0;  // raw up to here is in `rest` or cut out
  std::size_t i = 0;
  while (i < raw.size() && error_.empty()) {
    std::size_t end = 0;
    const KnownOption* option = raw[i] == u'/' && (i == 0 || raw[i - 1] == u' ') ? SlashOption(raw.substr(i), end) : nullptr;
    if (option == nullptr) {
      ++i;
      continue;
    }
    end += i;
    std::size_t next = end;
    std::u16string value;
    bool hasValue = false;
    if (end < raw.size() && raw[end] == u':') {
      hasValue = true;
      bool quoted = false;
      for (next = end + 1; next < raw.size() && (quoted || raw[next] != u' '); ++next) {
        if (raw[next] != u'"') {
          value += raw[next];
        } else if (quoted && next + 1 < raw.size() && raw[next + 1] == u'"') {
          value += u'"';
          ++next;
        } else {
          quoted = !quoted;
        }
      }
      if (quoted) {
        error_ = std::u16string(raw.substr(i, end - i)) + u" has a double quote that is not closed.";
        break;
      }
    }
    Apply(*option, raw.substr(i, end - i), hasValue ? &value : nullptr);
    // The word goes with the space before it, or, when none is left before
    // it, the one after it.
    std::size_t from = i;
    if (i > copied) {
      --from;
    } else if (next < raw.size()) {
      ++next;
    }
    rest.append(raw.substr(copied, from - copied));
    copied = i = next;
  }
  rest.append(raw.substr(copied));
  return rest;
}

void OptionReader::TakeSlashOptions(std::vector<std::u16string>& words) {
  std::vector<std::u16string> kept;
  for (std::u16string& word : words) {
    std::size_t end = 0;
    // After "--" every word is a path.
    const bool paths = kept.size() >= pathsFrom_;
    const KnownOption* option = error_.empty() && !paths && word.starts_with(u'/') ? SlashOption(word, end) : nullptr;
    if (option == nullptr || (end < word.size() && word[end] == u' ')) {
      kept.push_back(std::move(word));
      continue;
    }
    const std::u16string value = end < word.size() ? word.substr(end + 1) : std::u16string();
    Apply(*option, std::u16string_view(word).substr(0, end), end < word.size() ? &value : nullptr);
  }
  words = std::move(kept);
}

void OptionReader::TakeLongOptions(std::vector<std::u16string>& words) {
  std::vector<std::u16string> kept;
  bool ended = false;
  for (std::u16string& word : words) {
    if (ended || !error_.empty() || !word.starts_with(u"--")) {
      kept.push_back(std::move(word));
      continue;
    }
    if (word == u"--") {
      ended = true;
      pathsFrom_ = kept.size();
      continue;
    }
    const std::size_t equals = word.find(u'=');
    const std::u16string_view name = std::u16string_view(word).substr(2, equals == std::u16string::npos ? equals : equals - 2);
    const KnownOption* found = std::find_if(std::begin(kKnownOptions), std::end(kKnownOptions),
                                            [name](const KnownOption& known) { return name == known.gnu; });
    if (found == std::end(kKnownOptions)) {
      // A GNU-style command names what it does not know; a mistyped
      // --arguments taken as part of a path makes the wrong link.
      error_ = Cat({u"unknown option ", word, u"; mklnk --help lists them."});
      continue;
    }
    const std::u16string value = equals != std::u16string::npos ? word.substr(equals + 1) : std::u16string();
    Apply(*found, std::u16string_view(word).substr(0, equals), equals != std::u16string::npos ? &value : nullptr);
  }
  words = std::move(kept);
}

bool OptionReader::makesLink() const {
  return (seen_ & ((1u << static_cast<unsigned>(Id::Read)) - 1)) != 0;
}

std::u16string OptionsText() {
  return
         u"Options, anywhere among the paths (Linux also takes the second form):\r\n"
         u"  /ARGS:text            --arguments=text            arguments for the target\r\n"
         u"  /WORKDIR:folder       --working-directory=folder  folder it runs in, instead of the target's\r\n"
         u"  /DESC:text            --description=text          description (comment)\r\n"
         u"  /ICON:file[,index]    --icon=file[,index]         icon: a file, and the icon's index in it\r\n"
         u"  /SHOW:normal|max|min  --show=normal|max|min       window it opens in\r\n"
         u"  /HOTKEY:Ctrl+Alt+K    --hotkey=Ctrl+Alt+K         hot key: Ctrl, Alt, Shift and A-Z, 0-9, F1-F24\r\n"
         u"  /ADMIN                --run-as-admin              run the target as administrator\r\n"
         u"  /TYPE:file|folder     --target-type=file|folder   the target, which need not be on this machine\r\n"
         u"  /APPID:Company.App    --app-id=Company.App        AppUserModelID: the taskbar groups it with the app\r\n"
         u"  /FROM:file            --from=file                 many links: a command line a line (- reads standard input)\r\n"
         u"Changing links: /EDIT FILE... [options], or mklnk --edit FILE... [options]; only what is given changes:\r\n"
         u"  /TARGET:path          --target=path               a new target\r\n"
         u"  /REPLACE:OLD|NEW      --replace=OLD|NEW           every stored path that begins with OLD begins with NEW\r\n"
         u"  /RECURSIVE            --recursive                 a folder stands for every .lnk file below it\r\n"
         u"  /DRYRUN               --dry-run                   say what would change, and change nothing\r\n"
         u"  an empty value (/ARGS: /DESC: /WORKDIR: /ICON: /APPID:) removes that string\r\n"
         u"                        --                          the words after it are paths\r\n"
         u"Reading links: mklnk /READ [/JSON | /COMMAND] file.lnk...:\r\n"
         u"  /READ                 --read                      what each link holds, as text\r\n"
         u"  /JSON                 --json                      ... as one JSON object a line\r\n"
         u"  /COMMAND              --command                   ... as the command line that makes it again\r\n"
         u"A value with spaces goes in double quotes, \"\" standing for one: /ARGS:\"/k \"\"a b.bat\"\"\".\r\n"
         u"On Linux the shell's quoting does it: '/ARGS:/k \"a b.bat\"'.";
}

}  // namespace mklnk::cli
