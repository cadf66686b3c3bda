// The kernel calls and text conversions, on real files in a scratch folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/tempdir.h"

namespace {

using testsupport::TempDir;

std::string Ansi(const std::u16string& text) { return platform::ToAnsi(text); }

// The tests below spell expected bytes in code page 1252, which the test
// wrapper gives Wine; elsewhere they would not hold.
bool IsWesternCodePage() { return GetACP() == 1252; }

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---- text -------------------------------------------------------------------

struct AnsiCase {
  const char16_t* text;
  const char* bytes;        // ToAnsi
  const char* exact;        // ToAnsiExact; nullptr: refused
};

class AnsiTest : public testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiTest, Converts) {
  if (!IsWesternCodePage()) GTEST_SKIP() << "needs code page 1252";
  const AnsiCase& c = GetParam();
  EXPECT_EQ(platform::ToAnsi(c.text), c.bytes);
  const std::optional<std::string> exact = platform::ToAnsiExact(c.text);
  if (c.exact == nullptr) {
    EXPECT_FALSE(exact.has_value()) << *exact;
  } else {
    ASSERT_TRUE(exact.has_value());
    EXPECT_EQ(*exact, c.exact);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CodePage1252, AnsiTest,
    testing::Values(AnsiCase{u"", "", ""},
                    AnsiCase{u"C:\\a b\\doc.txt", "C:\\a b\\doc.txt", "C:\\a b\\doc.txt"},
                    AnsiCase{u"\u00e9t\u00e9", "\xe9t\xe9", "\xe9t\xe9"},
                    AnsiCase{u"\u20ac", "\x80", "\x80"},
                    AnsiCase{u"a\r\nb", "a\r\nb", "a\r\nb"},
                    // No place in the code page: the default character,
                    // and refused by the exact conversion.
                    AnsiCase{u"x\u4e2dy", "x?y", nullptr},
                    // A broken surrogate pair cannot be converted exactly.
                    AnsiCase{u"\xd800", "?", nullptr}));

TEST(AnsiExact, RefusesBestFitLookAlikes) {
  if (!IsWesternCodePage()) GTEST_SKIP() << "needs code page 1252";
  // A with macron has no place in 1252; a best-fit mapping would turn it
  // into a plain A, naming a different file.
  EXPECT_FALSE(platform::ToAnsiExact(u"\u0100.txt").has_value());
  // A Greek capital alpha looks like A but is not.
  EXPECT_FALSE(platform::ToAnsiExact(u"\u0391").has_value());
}

TEST(AnsiRoundTrip, EveryByteOfTheCodePageComesBack) {
  if (!IsWesternCodePage()) GTEST_SKIP() << "needs code page 1252";
  std::string all;
  for (int b = 1; b < 256; ++b) {
    // Bytes that 1252 leaves undefined.
    if (b == 0x81 || b == 0x8d || b == 0x8f || b == 0x90 || b == 0x9d) continue;
    all += static_cast<char>(b);
  }
  const std::u16string wide = platform::FromAnsi(all);
  EXPECT_EQ(wide.size(), all.size());
  EXPECT_EQ(platform::ToAnsi(wide), all);
  EXPECT_EQ(platform::ToAnsiExact(wide), std::optional<std::string>(all));
  EXPECT_EQ(platform::FromAnsi(""), u"");
  EXPECT_EQ(platform::FromAnsi("\x80"), u"\u20ac");
}

TEST(UpperCase, KeepsTheLengthAndHandlesAccents) {
  EXPECT_EQ(platform::UpperCase(u"mklnk_Tests"), u"MKLNK_TESTS");
  EXPECT_EQ(platform::UpperCase(u""), u"");
  EXPECT_EQ(platform::UpperCase(u"\u00e9t\u00e9-1"), u"\u00c9T\u00c9-1");
  // One character for one: the sharp s does not grow into two.
  EXPECT_EQ(platform::UpperCase(u"stra\u00dfe").size(), 6u);
}

// ---- standard output ----------------------------------------------------------

TEST(KernelWrite, WritesExactlyTheBytesGiven) {
  testsupport::Capture out;
  ASSERT_NE(out.handle(), platform::kInvalidHandle);
  EXPECT_TRUE(platform::WriteFile(out.handle(), std::string("a\0b\r\n\xff", 6)));
  EXPECT_TRUE(platform::WriteFile(out.handle(), ""));  // nothing, and still done
  EXPECT_EQ(out.Bytes(), std::string("a\0b\r\n\xff", 6));
}

TEST(KernelWrite, FailsQuietlyOnAnUnusableHandle) {
  EXPECT_FALSE(platform::WriteFile(platform::kInvalidHandle, "abc"));
  EXPECT_FALSE(platform::WriteFile(0, "abc"));
}

TEST(KernelStdHandle, AnswersTheProcessOutput) {
  EXPECT_EQ(platform::GetStdHandle(platform::kStdOutputHandle),
            reinterpret_cast<platform::Handle>(GetStdHandle(STD_OUTPUT_HANDLE)));
}

// ---- files and folders -----------------------------------------------------------

TEST(KernelAttributes, TellFilesFoldersAndNothing) {
  TempDir dir;
  dir.MakeDir("sub");
  dir.MakeFile("a.txt", "x");
  EXPECT_NE(platform::GetFileAttributesA(Ansi(dir.win("sub"))) & platform::kAttrDirectory, 0u);
  const std::uint32_t file = platform::GetFileAttributesA(Ansi(dir.win("a.txt")));
  ASSERT_NE(file, platform::kInvalidFileAttributes);
  EXPECT_EQ(file & platform::kAttrDirectory, 0u);
  EXPECT_EQ(platform::GetFileAttributesA(Ansi(dir.win("none"))), platform::kInvalidFileAttributes);
  EXPECT_EQ(platform::GetFileAttributesA(""), platform::kInvalidFileAttributes);
}

TEST(KernelPaths, AZeroByteNeverShortensThePath) {
  // "a.txt\0junk" must not be taken for "a.txt".
  TempDir dir;
  dir.MakeFile("a.txt", "x");
  const std::string cut = Ansi(dir.win("a.txt")) + std::string("\0junk", 5);
  platform::FindData data;
  EXPECT_EQ(platform::FindFirstFileA(cut, data), platform::kInvalidHandle);
  EXPECT_EQ(platform::GetFileAttributesA(cut), platform::kInvalidFileAttributes);
  EXPECT_EQ(platform::OpenFolderA(cut), platform::kInvalidHandle);
  EXPECT_EQ(platform::GetFullPathNameA(cut), "");
  EXPECT_EQ(dir.Read("a.txt"), "x");
}

TEST(KernelFind, FindsOneNameNeverAPattern) {
  TempDir dir;
  dir.MakeFile("a.txt", "x");
  dir.MakeDir("sub");
  platform::FindData data;
  platform::Handle h = platform::FindFirstFileA(Ansi(dir.win("a.txt")), data);
  ASSERT_NE(h, platform::kInvalidHandle);
  EXPECT_EQ(data.attributes & platform::kAttrDirectory, 0u);
  EXPECT_NE(platform::FindClose(h), 0);

  h = platform::FindFirstFileA(Ansi(dir.win("sub")), data);
  ASSERT_NE(h, platform::kInvalidHandle);
  EXPECT_NE(data.attributes & platform::kAttrDirectory, 0u);
  platform::FindClose(h);

  // The long-path prefix holds a '?' that is no wildcard.
  h = platform::FindFirstFileA("\\\\?\\" + Ansi(dir.win("a.txt")), data);
  ASSERT_NE(h, platform::kInvalidHandle);
  platform::FindClose(h);

  // What the search would expand in the last name finds nothing, although
  // a.txt matches every one of these.
  for (const char* pattern : {"*.txt", "a.tx?", "a<", "a.tx>", "a\".txt"}) {
    EXPECT_EQ(platform::FindFirstFileA(Ansi(dir.win(pattern)), data), platform::kInvalidHandle) << pattern;
  }
  EXPECT_EQ(platform::FindFirstFileA("", data), platform::kInvalidHandle);
}

// One file, however it is spelt: another case, "." and "..", the
// long-path prefix.
TEST(KernelFileId, SameFileEverySpelling) {
  TempDir dir;
  dir.MakeFile("a.txt", "x");
  dir.MakeFile("b.txt", "x");
  dir.MakeDir("sub");
  const std::optional<platform::FileId> a = platform::GetFileIdA(Ansi(dir.win("a.txt")), true);
  ASSERT_TRUE(a.has_value());
  for (const std::string& spelling : {Ansi(dir.win("A.TXT")), Ansi(dir.win("sub\\..\\.\\a.txt")),
                                      "\\\\?\\" + Ansi(dir.win("a.txt"))}) {
    EXPECT_EQ(platform::GetFileIdA(spelling, false), a) << spelling;
  }
  EXPECT_NE(platform::GetFileIdA(Ansi(dir.win("b.txt")), true), a);
  EXPECT_TRUE(platform::GetFileIdA(Ansi(dir.win("sub")), true).has_value());
  EXPECT_FALSE(platform::GetFileIdA(Ansi(dir.win("missing.txt")), true).has_value());
}

// The calls a link is made with, all in the held folder: a new file never
// over anything, names found in any letter case, a replacing rename that
// clears a read-only attribute only for the move and puts it back on the
// file's other names, and the folder followed when it is renamed meanwhile.
TEST(KernelFolder, MakesReplacesAndRemovesInTheHeldFolder) {
  TempDir dir;
  dir.MakeDir("links/sub");
  dir.MakeFile("links/Doc.lnk", "old");
  dir.MakeFile("links/ro.lnk", "read-only");
  dir.MakeFile("elsewhere.txt", "precious");
  ASSERT_TRUE(::CreateHardLinkW(dir.native("links/hard.lnk").c_str(), dir.native("elsewhere.txt").c_str(), nullptr));
  dir.SetReadOnly("links/ro.lnk");
  dir.SetReadOnly("elsewhere.txt");
  EXPECT_EQ(platform::OpenFolderA(Ansi(dir.win("missing"))), platform::kInvalidHandle);
  const platform::Handle links = platform::OpenFolderA(Ansi(dir.win("links")));
  ASSERT_NE(links, platform::kInvalidHandle);

  EXPECT_EQ(platform::FindNamesA(links, "DOC.LNK"), std::vector<std::string>{"Doc.lnk"});
  EXPECT_EQ(platform::FindNamesA(links, "new.lnk"), std::vector<std::string>{});

  EXPECT_NE(platform::CreateNewFileA(links, ".t.lnk"), 0);
  EXPECT_EQ(dir.Read("links/.t.lnk"), "");
  for (const char* taken : {".t.lnk", "doc.lnk", "sub"}) {
    ::SetLastError(0);
    EXPECT_EQ(platform::CreateNewFileA(links, taken), 0) << taken;
    EXPECT_TRUE(platform::GetLastError() == platform::kErrorFileExists || taken == std::string("sub")) << taken;
  }
  EXPECT_EQ(dir.Read("links/Doc.lnk"), "old");
  EXPECT_EQ(platform::GetFileIdAt(links, "Doc.lnk"), platform::GetFileIdA(Ansi(dir.win("links\\Doc.lnk")), false));
  EXPECT_FALSE(platform::GetFileIdAt(links, "missing").has_value());
  // (Wine shows every name with a leading dot as hidden, whatever the
  // attribute says.)
  dir.MakeFile("links/h.lnk");
  EXPECT_NE(platform::HideFileA(links, "h.lnk", true), 0);
  EXPECT_NE(::GetFileAttributesW(dir.native("links/h.lnk").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_NE(platform::HideFileA(links, "h.lnk", false), 0);
  EXPECT_EQ(::GetFileAttributesW(dir.native("links/h.lnk").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

  dir.MakeFile("links/.u.lnk", "new u");
  dir.MakeFile("links/.v.lnk", "new v");
  EXPECT_NE(platform::ReplaceFileA(links, ".t.lnk", "Doc.lnk"), 0);
  EXPECT_NE(platform::ReplaceFileA(links, ".u.lnk", "ro.lnk"), 0);
  EXPECT_NE(platform::ReplaceFileA(links, ".v.lnk", "hard.lnk"), 0);
  EXPECT_EQ(dir.Read("links/Doc.lnk"), "");
  EXPECT_EQ(dir.Read("links/ro.lnk"), "new u");
  EXPECT_EQ(dir.Read("links/hard.lnk"), "new v");
  EXPECT_EQ(dir.Read("elsewhere.txt"), "precious");
  EXPECT_NE(::GetFileAttributesW(dir.native("elsewhere.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  dir.MakeFile("links/.w.lnk");
  EXPECT_EQ(platform::ReplaceFileA(links, ".w.lnk", "sub"), 0);  // never a folder
  EXPECT_TRUE(dir.Exists("links/sub"));

  EXPECT_NE(platform::RemoveFileA(links, ".w.lnk"), 0);
  EXPECT_EQ(platform::RemoveFileA(links, ".w.lnk"), 0);
  // Wine 8 names a handle by the path it was opened with, renamed or not.
  if (!UnderWine()) {
    ASSERT_TRUE(::MoveFileW(dir.native("links").c_str(), dir.native("moved").c_str()));
    EXPECT_NE(platform::CreateNewFileA(links, ".x.lnk"), 0);
    EXPECT_NE(platform::ReplaceFileA(links, ".x.lnk", "x.lnk"), 0);
    EXPECT_TRUE(dir.Exists("moved/x.lnk"));
  }
  EXPECT_EQ(dir.List(UnderWine() ? "links" : "moved"),
            (std::set<std::string>{"Doc.lnk", "h.lnk", "hard.lnk", "ro.lnk", "sub", UnderWine() ? "Doc.lnk" : "x.lnk"}));
  platform::CloseFolder(links);
  dir.SetReadOnly("elsewhere.txt", false);
}

// ---- current directory and full paths ----------------------------------------------

TEST(KernelCurrentDirectory, SizeFirstThenTheText) {
  TempDir dir;
  testsupport::ChangeDir cd(dir.native());
  char expected[32768];
  const DWORD expected_length = GetCurrentDirectoryA(sizeof expected, expected);
  ASSERT_GT(expected_length, 0u);

  // No buffer: the size needed, the terminating zero included.
  const std::uint32_t needed = platform::GetCurrentDirectoryA(0, nullptr);
  EXPECT_EQ(needed, expected_length + 1);
  // Too small a buffer: the same answer, and nothing is claimed written.
  std::vector<char> small(2, 'x');
  EXPECT_EQ(platform::GetCurrentDirectoryA(2, small.data()), needed);
  // Just right: the length written, without the zero.
  std::vector<char> buffer(needed, ' ');
  const std::uint32_t written = platform::GetCurrentDirectoryA(needed, buffer.data());
  ASSERT_EQ(written, needed - 1);
  EXPECT_EQ(std::string(buffer.data(), written), std::string(expected, expected_length));
  // A length with no buffer still only asks for the size.
  EXPECT_EQ(platform::GetCurrentDirectoryA(100, nullptr), needed);
}

TEST(KernelFullPath, ResolvesAgainstTheCurrentDirectory) {
  TempDir dir;
  testsupport::ChangeDir cd(dir.native());
  char current[32768];
  const DWORD n = GetCurrentDirectoryA(sizeof current, current);
  std::string base(current, n);
  if (base.back() != '\\') base += '\\';
  EXPECT_EQ(platform::GetFullPathNameA("a.txt"), base + "a.txt");
  EXPECT_EQ(platform::GetFullPathNameA(".\\x\\..\\b.lnk"), base + "b.lnk");
  EXPECT_EQ(platform::GetFullPathNameA("C:\\x\\y"), "C:\\x\\y");
  EXPECT_EQ(platform::GetFullPathNameA(""), "");
}

TEST(KernelFullPath, NeverCutsALongPath) {
  const std::string near_limit = "C:\\" + std::string(120, 'a') + "\\" + std::string(120, 'b');
  EXPECT_EQ(platform::GetFullPathNameA(near_limit), near_limit);
  // The ANSI entry point may refuse a path beyond MAX_PATH, but whatever
  // comes back is whole.
  const std::string beyond = "C:\\" + std::string(300, 'a') + "\\" + std::string(300, 'b');
  const std::string full = platform::GetFullPathNameA(beyond);
  EXPECT_TRUE(full.empty() || full == beyond) << full.size();
}

}  // namespace
