// mklnk --read / /READ: what link files hold, as text for people
// (default), as JSON Lines (--json, /JSON) or as the command line that
// makes the same link (--command, /COMMAND).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "lnk/link.h"
#include "lnk/view.h"

namespace mklnk::cli {

enum class ReadOutput { kText, kJson, kCommand };

// The mode, as the options chose it: checks that they say nothing of a
// link to make and that there are files, then RunRead.
int RunReadMode(const OptionReader& options, const std::vector<std::u16string>& files);

// Reads every file in turn and prints it; answers the exit status: 1 when
// any of them could not be read as a link, else 0.
int RunRead(const std::vector<std::u16string>& files, ReadOutput output);

// The operands of a raw Windows command line, once the options are out of
// it: words apart at spaces, a part in double quotes keeping its spaces.
std::vector<std::u16string> ReadOperands(std::u16string_view raw);

// ---- the lines, without I/O (for the tests and the fuzz target) -------------

// The text lines of a link read from `file`.
std::vector<std::u16string> TextLines(std::u16string_view file, const lnk::Link& link, const lnk::LinkView& view);

// The JSON line of a link, and of a file that could not be read as one.
std::u16string JsonLine(std::u16string_view file, const lnk::Link& link, const lnk::LinkView& view);
std::u16string JsonErrorLine(std::u16string_view file, std::u16string_view error);

// The command line that makes the same link at `linkPath`, after a
// "warning: " line for each thing it cannot carry; an "Error: " line alone
// when the link names no target a command line can give.  `targetHere`
// tells whether the target is on this machine (else /TYPE: says what it is).
std::vector<std::u16string> CommandLines(std::u16string_view linkPath, const lnk::Link& link,
                                         const lnk::LinkView& view, bool targetHere);

// A string as JSON writes it, in double quotes and plain ASCII.
std::string JsonString(std::u16string_view text);

}  // namespace mklnk::cli
