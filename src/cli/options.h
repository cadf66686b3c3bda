// The options that say what a link holds besides its target: /ARGS:,
// /WORKDIR:, /DESC:, /ICON:, /SHOW:, /HOTKEY: and /ADMIN, and /TYPE:, for
// a target that need not be on this machine; in any letter case, and on
// Linux also as GNU long options (--arguments=, ...).
//
// They take nothing from a command line that works without them.  A word
// beginning with "/" makes the splitting answer with the usage text (unless
// the line echoes with /showargs, and then it goes on echoing exactly as
// before): slash options are read only from a line that would get the usage
// text, and what remains of it goes to the splitting unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace mklnk::cli {

// What /TYPE says the target is: a file or a folder that need not be on
// this machine.
enum class TargetType { kUnsaid, kFile, kFolder };

// --edit: the links to change, and which of their properties were given,
// for only those to change.  An empty string value removes the string.
struct EditOptions {
  bool on = false;  // --edit, /EDIT
  bool recursive = false;
  bool dryRun = false;
  bool arguments = false, description = false, workingDirectory = false, icon = false, show = false,
       hotKey = false, admin = false, targetType = false, appId = false;
  bool retarget = false;  // --target
  std::u16string target;
  bool replace = false;  // --replace=OLD|NEW
  std::u16string replaceOld, replaceNew;
};
// Whether the command reads links instead of making one (/READ, and /JSON
// or /COMMAND, which read too), and how it prints them.
enum class ReadMode { kNone, kText, kJson, kCommand };

struct Options {
  platform::LinkProperties link;
  TargetType targetType = TargetType::kUnsaid;
  EditOptions edit;
  std::vector<std::u16string> echo;  // for /showargs: one line per option given, as understood
  std::u16string from;               // /FROM: a file of command lines to run, "-" for standard input
  ReadMode read = ReadMode::kNone;
};

struct KnownOption;  // one option: its names, whether it takes a value

// Reads options, from one command line, in one or more goes: an option
// given twice is refused whichever goes found it.
class OptionReader {
 public:
  // The slash options of a raw Windows command line.  An option begins the
  // line or follows a space; its value runs to the next space, and a part
  // in double quotes keeps its spaces, "" standing for one double quote.
  // Answers the line without the option words (each with the one space
  // that set it apart), for the splitting.
  std::u16string TakeSlashOptions(std::u16string_view raw);

  // The same from the words the shell split a Linux command line into: a
  // word that begins with a slash option's name is that option, and its
  // value is the rest of the word as it stands; not after "--", which
  // TakeLongOptions found.
  void TakeSlashOptions(std::vector<std::u16string>& words);

  // Linux's own form, GNU long options (--arguments=VALUE, --run-as-admin),
  // and "--", which ends them and is taken out too.
  void TakeLongOptions(std::vector<std::u16string>& words);

  const Options& options() const { return options_; }
  // The error line's text for a value an option cannot take; "" when all
  // were good.  Reading stops at the first, but for what only making a
  // link refuses (an empty folder or icon, which an edit takes for "remove
  // it", and the options of an edit): that is the error only without
  // --edit, wherever --edit stands.
  const std::u16string& error() const {
    return options_.edit.on || makingError_.empty() ? error_ : makingError_;
  }
  // Whether an option that says what a link holds was given.
  bool makesLink() const;

 private:
  void Apply(const KnownOption& option, std::u16string_view given, const std::u16string* value);
  // The error line for a path that holds a name Windows does not take.
  void RefuseName(std::u16string_view given, std::u16string_view name, std::u16string_view value);

  void Defer(std::u16string text);

  Options options_;
  std::u16string error_;
  std::u16string makingError_;  // the first error that only making a link has
  std::uint32_t seen_ = 0;  // a bit for each option given
  std::size_t pathsFrom_ = SIZE_MAX;  // the words from here on came after "--"
};

// The options, for the usage text of mklnk --help on Linux: lines ended by
// CR LF but the last.
std::u16string OptionsText();

}  // namespace mklnk::cli
