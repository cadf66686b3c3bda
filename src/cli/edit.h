// The edit mode: --edit FILE... [options] (Linux), /EDIT FILE... [options]
// (both builds) changes links that are there, only in what the options
// give, one file at a time, each replaced in one step.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"

namespace mklnk::cli {

// The files an edit names, from what is left of a raw Windows command line
// once the options are out: split at spaces, a part in double quotes
// keeping its spaces ("" in it standing for one double quote).
std::vector<std::u16string> SplitFileWords(std::u16string_view raw);

// Edits every file named, and every .lnk file below a folder named when
// the options say --recursive.  Prints one line per file changed (or, for
// a dry run, what would change), an error line per file that could not be;
// answers the exit status: 0, 1 when any file failed, 2 when the command
// line asks for nothing to be done.
int RunEdit(const std::vector<std::u16string>& operands, const Options& options);

}  // namespace mklnk::cli
