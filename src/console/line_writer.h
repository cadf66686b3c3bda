// The tool's only way to print: one text, one line, one write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace mklnk::console {

// Stored once at start-up, before anything is printed.
void SetStdOutput(platform::Handle handle);

// Writes the text to standard output, ended by CR LF unless its last
// character already ends a line (CR or LF).  True when the system took the
// write; callers do not look.
bool ConsoleWriteLine(std::u16string text);

// While `into` is set, each text is kept there, line end added, instead of
// written: a list holds a line's output until its link is on disk.
// nullptr writes again.
void CollectLines(std::vector<std::u16string>* into);

// Every error line the tool prints: "Error: ", what went wrong, and, when
// the system gave a reason for it, that reason in the system's words, as in
// `Error: cannot create the link file "C:\x\doc.lnk": Access is denied.`;
// a full stop at the end unless there is one already.
std::u16string ErrorLine(std::u16string_view what, std::uint32_t reason = 0);

}  // namespace mklnk::console
