// Cutting the program's name off the Windows command line.
#include "platform/win32/cmdline.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "platform/platform.h"

namespace {

struct CutCase {
  const char16_t* line;
  const char16_t* rest;
};

class CutProgramNameTest : public testing::TestWithParam<CutCase> {};

TEST_P(CutProgramNameTest, LeavesTheArgumentsVerbatim) {
  EXPECT_EQ(platform::win32::CutProgramName(GetParam().line), GetParam().rest)
      << "line: " << testing::PrintToString(std::u16string(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CutProgramNameTest,
    testing::Values(
        // Quoted names run to the closing quote, spaces included.
        CutCase{u"\"C:\\Program Files\\mklnk.exe\" a b", u"a b"},
        CutCase{u"\"C:\\Program Files\\mklnk.exe\"", u""},
        CutCase{u"\"mklnk.exe\"x y", u"x y"},
        CutCase{u"\"\"  a", u"a"},
        // An unclosed quote takes the whole line.
        CutCase{u"\"C:\\a b\\mklnk.exe a b", u""},
        // Unquoted names end at the first space or tab.
        CutCase{u"mklnk.exe a b", u"a b"},
        CutCase{u"mklnk.exe\ta", u"a"},
        CutCase{u"mk\"lnk.exe a", u"a"},
        CutCase{u"mklnk.exe", u""},
        CutCase{u"mklnk", u""},
        CutCase{u"", u""},
        // Every blank after the name goes; blanks inside and after the
        // arguments stay.
        CutCase{u"mklnk.exe  \t \t\"x y\"  z  ", u"\"x y\"  z  "},
        CutCase{u"mklnk.exe    ", u""},
        CutCase{u"\"mklnk.exe\" \t /?", u"/?"},
        // Only the name is cut, not a second program-like word.
        CutCase{u"mklnk.exe mklnk.exe", u"mklnk.exe"},
        // Characters beyond ASCII pass untouched.
        CutCase{u"\"C:\\\u00e9\u4e2d\\mklnk.exe\" \u4e2d\u00e9", u"\u4e2d\u00e9"}));

TEST(RawArgumentString, IsTheProcessCommandLineWithoutTheName) {
  const wchar_t* line = GetCommandLineW();
  const std::u16string_view view(reinterpret_cast<const char16_t*>(line), std::wcslen(line));
  const std::u16string raw = platform::RawArgumentString();
  EXPECT_EQ(raw, platform::win32::CutProgramName(view));
  EXPECT_EQ(platform::RawArgumentString(), raw);
}

}  // namespace
