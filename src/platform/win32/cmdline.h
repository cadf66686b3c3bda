// Cutting the program's own name off a Windows command line.
//
// Windows hands a process its command line as one string, the program's
// name first.  The name is delimited the way the C runtime does it for
// argv[0]: in double quotes it runs up to the closing quote (no escapes, and
// to the end of the line when the quote is never closed); otherwise it runs
// up to the first space or tab.  The blanks that separate it from the
// arguments go too, and what remains is handed on exactly as typed.
#pragma once

#include <string_view>

namespace platform::win32 {

constexpr std::u16string_view CutProgramName(std::u16string_view line) {
  std::size_t pos = 0;
  if (!line.empty() && line[0] == u'"') {
    const std::size_t close = line.find(u'"', 1);
    pos = close == std::u16string_view::npos ? line.size() : close + 1;
  } else {
    while (pos < line.size() && line[pos] != u' ' && line[pos] != u'\t') ++pos;
  }
  while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t')) ++pos;
  return line.substr(pos);
}

}  // namespace platform::win32
