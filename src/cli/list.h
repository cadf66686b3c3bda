// Many links in one run: /FROM:FILE (both builds), --from=FILE (Linux).
//
// Each line of the file ("-": standard input) is one mklnk command line,
// read as the Windows build reads its raw argument string; blank lines and
// lines whose first character that is not a blank is '#' are passed over;
// UTF-8, with or without a byte order mark, lines ended by LF or CR LF.
// Each line prints what it prints alone, in the list's order; every line
// that reports a failure begins with "FILE:LINE: ".  The links go in place
// in groups (shelllink/replace.h), and a link's line is printed once it is
// on disk.
#pragma once

#include <string>
#include <string_view>

namespace mklnk::shelllink {
struct LinkBatch;
}

namespace mklnk::cli {

// Runs the list `file`.  `rest` is what else the command line held (it
// must hold nothing); `nested`: the list is named by a list's own line,
// and refused.  Answers the exit status: 0 when every line did what it
// asked, 2 when a line got the usage text, else 1.
int RunList(const std::u16string& file, const std::u16string& rest, bool nested);

// Before a list's line looks at `path` on disk: commits the batch's group
// when one of its links is yet to take the path's last name, so that the
// line sees what the lines before it made.
void CommitBefore(shelllink::LinkBatch& batch, std::u16string_view path);

}  // namespace mklnk::cli
