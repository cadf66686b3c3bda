// Start-up, the usage text, the splitting of the raw argument string, and
// the run that tests the target and has the link made.
#pragma once

#include <string>
#include <string_view>

#include "cli/options.h"

namespace mklnk::cli {

// Exit status of the process.
inline constexpr int kExitOk = 0;             // usage or version asked for, echo, link made
inline constexpr int kExitFailed = 1;         // not found, or the writer failed
inline constexpr int kExitUsage = 2;          // arguments turned away with the usage text
inline constexpr int kExitInternalError = 3;  // an unexpected error, reported as "Error: ..."

enum class Outcome { Usage, Echo, Run };

struct SplitResult {
  Outcome outcome = Outcome::Usage;
  std::u16string link;    // as the splitting left it, double quotes included
  std::u16string target;
};

// The whole decision of the command line, without any printing: the raw
// argument string in, one outcome and the two strings out.
SplitResult SplitArguments(std::u16string_view raw);

// The six-line usage text, without a final line break.
std::u16string UsageText();

// The run: tests the target, splits both strings and has the link created,
// with what else the command line said it holds.  A target that is not
// here is refused, unless the options say what it is (/TYPE).  Prints its
// own line; answers the exit status.
// With `bytesOnly`, the link is not put in place: its bytes are (for an
// edit's new target), and nothing is printed but an error line.
int RunLink(const std::u16string& link, const std::u16string& target, const Options& options = {},
            std::string* bytesOnly = nullptr);

// Reads the raw argument string and the options in it, splits it and ends
// in one outcome.
int RunCommandLine();

// Start-up: stores the standard-output handle and chooses between the usage
// text (and on Linux the version line) and RunCommandLine.  Answers the
// process's exit status.
int Main();

}  // namespace mklnk::cli
