// The tool's only way to print: one text, one line, one write.
#pragma once

#include <string>

#include "platform/platform.h"

namespace bas_Console {

// Stored once at start-up, before anything is printed.
void SetStdOutput(platform::Handle handle);

// Writes the text to standard output, ended by CR LF unless its last
// character already ends a line (CR or LF).  True when the system took the
// write; callers do not look.
bool ConsoleWriteLine(std::u16string text);

}  // namespace bas_Console
