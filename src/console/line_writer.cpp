#include "console/line_writer.h"

namespace mklnk::console {

namespace {
platform::Handle g_stdout = platform::kInvalidHandle;
std::vector<std::u16string>* g_collect = nullptr;
}

void CollectLines(std::vector<std::u16string>* into) { g_collect = into; }

void SetStdOutput(platform::Handle handle) { g_stdout = handle; }

bool ConsoleWriteLine(std::u16string text) {
  // A text counts as already ending a line only when its last character is
  // CR or LF.  Looking at the first break instead would write a one-letter
  // text without a line end and double the break of a multi-line text.
  if (text.empty() || (text.back() != u'\r' && text.back() != u'\n')) {
    text += u"\r\n";
  }
  if (g_collect != nullptr) {
    g_collect->push_back(std::move(text));
    return true;
  }
  return platform::WriteFile(g_stdout, platform::ToAnsi(text));
}

std::u16string ErrorLine(std::u16string_view what, std::uint32_t reason) {
  std::u16string line = u"Error: ";
  line += what;
  if (reason != 0) {
    line += u": ";
    line += platform::ErrorMessage(reason);
  }
  if (line.back() != u'.') line += u'.';
  return line;
}

}  // namespace mklnk::console
