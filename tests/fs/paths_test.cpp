#include <gtest/gtest.h>

#include <string>

#include "fs/paths.h"
#include "support/tempdir.h"

namespace {

using namespace mklnk::fs;
using testsupport::ChangeDir;
using testsupport::TempDir;

std::string Show(const std::u16string& s) { return platform::ToAnsi(s); }

// Replaces every `mark` ("{R}", "{W}") with `value`.
std::u16string Expand(std::u16string s, std::u16string_view mark, const std::u16string& value) {
  for (std::size_t at; (at = s.find(mark)) != std::u16string::npos;) s.replace(at, mark.size(), value);
  return s;
}

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.MakeDir("work");
    t.MakeDir("dir");
    t.MakeFile("dir/a.txt", "a");
  }
  // "{R}" is the test folder, "{W}" the current directory within it.
  std::u16string P(const std::u16string& s) const {
    return Expand(Expand(s, u"{R}", t.win()), u"{W}", t.win("work"));
  }
  TempDir t;
};

TEST_F(PathsTest, Tests) {
  struct Row {
    std::u16string path;
    bool file, folder;
  };
  const Row rows[] = {
      {u"", false, false},
      {u"   ", false, false},
      {u"{R}\\dir", false, true},
      {u"{R}\\dir\\", false, true},
      {u"{R}\\dir\\a.txt", true, false},
      // One trailing backslash is dropped by the file test only; two keep one.
      {u"{R}\\dir\\a.txt\\", true, false},
      {u"{R}\\dir\\a.txt\\\\", false, false},
      {u"\\", false, true},  // the root of the current drive
      // Quotes around, or only on one side.
      {u"\"{R}\\dir\\a.txt\"", true, false},
      {u"\"{R}\\dir\\a.txt", true, false},
      {u"{R}\\dir\\a.txt\"", true, false},
      {u"\"{R}\\dir\\\"", false, true},
      {u"\"{R}\\dir\"", false, true},
      {u"\"", false, false},
      {u"\"\"", false, false},
      // A backslash before the closing quote stays: the file test sees "dir\".
      {u"\"{R}\\dir\\a.txt\\\"", false, false},
      // A quote inside keeps the closing one.
      {u"{R}\\dir\\a\"b\"", false, false},
      {u"{R}\\dir\\missing.txt", false, false},
      // Wildcards name nothing, even where the directory search would match.
      {u"{R}\\dir\\*.txt", false, false},
      {u"{R}\\dir\\a.tx?", false, false},
      {u"{R}\\d*", false, false},
      // Only a path of spaces alone is refused; a leading space reaches the
      // system, where it names nothing.
      {u" {R}\\dir\\a.txt", false, false},
  };
  for (const Row& row : rows) {
    const std::u16string path = P(row.path);
    SCOPED_TRACE(Show(path));
    EXPECT_EQ(FileExists(path), row.file);
    EXPECT_EQ(FolderExists(path), row.folder);
  }
  // A drive's root: the file test searches for the bare drive and finds no
  // file; the folder test asks about the root itself.
  const std::u16string root = t.win().substr(0, 3);
  EXPECT_FALSE(FileExists(root));
  EXPECT_TRUE(FolderExists(root));
  EXPECT_EQ(Show(SplitPath(root).folder), Show(root));
  EXPECT_EQ(Show(SplitPath(root).name), "");
}

TEST_F(PathsTest, SplitAndJoin) {
  ChangeDir cd(t.native("work"));
  EXPECT_EQ(Show(GetCurDir()), Show(t.win("work")));
  struct Row {
    std::u16string path, folder, name;
  };
  const Row rows[] = {
      {u"a.txt", u"{W}", u"a.txt"},
      {u"", u"{W}", u""},
      {u"{R}\\dir\\a.txt", u"{R}\\dir\\", u"a.txt"},
      {u"{R}\\dir", u"{R}\\dir", u""},
      {u"{R}\\dir\\", u"{R}\\dir\\", u""},
      {u"{R}\\new\\b.lnk", u"{R}\\new\\", u"b.lnk"},
      {u"{R}\\new\\", u"{R}\\new\\", u""},
      {u"Z:a.txt", u"{W}", u"Z:a.txt"},
      {u"dir/a.txt", u"{W}", u"dir/a.txt"},
      {u"\"{R}\\dir\"", u"\"{R}\\dir\"", u""},
      {u"\"{R}\\My Links\\a.lnk\"", u"\"{R}\\My Links\\", u"a.lnk\""},
  };
  for (const Row& row : rows) {
    const std::u16string path = P(row.path);
    SCOPED_TRACE(Show(path));
    const PathParts parts = SplitPath(path);
    EXPECT_EQ(Show(parts.folder), Show(P(row.folder)));
    EXPECT_EQ(Show(parts.name), Show(P(row.name)));
  }
}

#ifndef _WIN32
// Windows keeps a process from removing its current directory; Linux does
// not, and then the directory cannot be read.
TEST(GetCurDir, Unreadable) {
  TempDir t;
  t.MakeDir("gone");
  ChangeDir cd(t.native("gone"));
  std::filesystem::remove(t.native("gone"));
  EXPECT_EQ(Show(GetCurDir()), "");
  EXPECT_EQ(Show(SplitPath(u"a.txt").folder), "");
  EXPECT_EQ(Show(SplitPath(u"a.txt").name), "a.txt");
}
#endif

TEST(JoinPath, Table) {
  struct Row {
    std::u16string folder, name, joined;
  };
  const Row rows[] = {
      {u"C:\\links", u"doc.lnk", u"C:\\links\\doc.lnk"},
      {u"C:\\links\\", u"doc.lnk", u"C:\\links\\doc.lnk"},
      {u"C:\\", u"doc.lnk", u"C:\\doc.lnk"},
      {u"C:\\links", u"", u"C:\\links\\"},
      {u"", u"doc.lnk", u"\\doc.lnk"},
      {u"C:\\links", u"\\doc.lnk", u"C:\\links\\\\doc.lnk"},
  };
  for (const Row& row : rows) EXPECT_EQ(Show(JoinPath(row.folder, row.name)), Show(row.joined));
}

// The drive letter in upper case, as Windows stores it in a link.
TEST(FullPath, DriveLetterInUpperCase) {
  EXPECT_EQ(Show(FullPath(u"z:\\a\\..\\x.txt")), "Z:\\x.txt");
  EXPECT_EQ(Show(FullPath(u"\\\\?\\c:\\")), "C:\\");
}

// A link holds paths of up to 259 UTF-16 units (MAX_PATH with its NUL).
TEST(TooLongForLink, Table) {
  const std::u16string p257 = u"Z:\\" + std::u16string(254, u'p'), emoji = u"\U0001F600";  // 257 units, 2 units
  struct Row {
    LinkPath kind;
    std::u16string path, refusedAs;  // shown as it counts; "" when it fits
  };
  const Row rows[] = {
      {LinkPath::kTarget, p257 + u"xx", u""},
      {LinkPath::kTarget, p257 + u"x" + emoji, u"the target \"" + p257 + u"x" + emoji},
      {LinkPath::kTarget, p257 + u"xx\\", u""},  // a folder's backslash is not stored
      {LinkPath::kTarget, p257 + u"xxx\\", u"the target \"" + p257 + u"xxx"},
      {LinkPath::kTarget, u"Z:\\", u""},
      {LinkPath::kWorkingDirectory, p257 + u"x", u""},  // counted with its closing backslash
      {LinkPath::kWorkingDirectory, p257 + u"xx", u"the working directory \"" + p257 + u"xx\\"},
      {LinkPath::kLinkFile, p257 + u"xx\\", u"the link file \"" + p257 + u"xx\\"},
  };
  for (const Row& row : rows) {
    const std::u16string end = row.refusedAs.empty() ? u"" : u"\" is too long for a link: 260 characters (259 at most).";
    EXPECT_EQ(Show(TooLongForLink(row.kind, row.path)), Show(row.refusedAs + end)) << Show(row.path);
  }
}

// What a link without a name is named after; what no link's path can hold.
TEST(LinkNames, Table) {
  struct Row {
    std::u16string path, name, invalid;
  };
  const Row rows[] = {
      {u"C:\\Data\\report.txt", u"report.txt", u""}, {u"C:\\Data\\", u"Data", u""},
      {u"C:\\", u"C", u""},                           {u"\\\\fileserver\\public\\", u"public", u""},
      {u"%windir%", u"windir", u""},                   {u"%windir%\\a%b%", u"a%b%", u""},
      {u"c:a|b", u"c:a|b", u"a|b"},                    {u"\\\\?\\C:\\x\\nul.txt", u"nul.txt", u"nul.txt"},
      {u"\"C:\\My Dir\"", u"My Dir\"", u"\"C:"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Show(LinkNameOf(row.path)), Show(row.name)) << Show(row.path);
    EXPECT_EQ(Show(InvalidName(row.path)), Show(row.invalid)) << Show(row.path);
  }
}

TEST(NetworkPathFault, Table) {
  struct Row {
    std::u16string path;
    std::string fault;  // after the quoted target; "" when it is sound
  };
  const Row rows[] = {
      {u"\\\\server\\share", ""},
      {u"\\\\?\\UNC\\server\\share\\x", ""},
      {u"\\\\?\\C:\\x", ""},
      {u"C:\\x", ""},
      {u"\\\\server", " names no share: a network path is \\\\server\\share\\..."},
      {u"\\\\?\\UNC\\server\\", " names no share: a network path is \\\\server\\share\\..."},
      {u"\\\\\\x\\y", " names no share: a network path is \\\\server\\share\\..."},
      {u"\\\\.\\pipe\\x", " is a device's path, not a file's or a folder's"},
      {u"\\\\server\\..\\x", " names the share \"..\", which Windows does not take"},
      {u"\\\\aux\\s", " names the server \"aux\", which Windows does not take"},
  };
  for (const Row& row : rows) {
    const std::string fault = Show(NetworkPathFault(row.path));
    EXPECT_EQ(fault, row.fault.empty() ? "" : "the target \"" + Show(row.path) + "\"" + row.fault);
  }
}

TEST(StripQuotes, Table) {
  struct Row {
    std::u16string in, out;
  };
  const Row rows[] = {
      {u"\"a b\"", u"a b"}, {u"\"ab", u"ab"},     {u"ab\"", u"ab"},   {u"a\"b\"", u"a\"b\""},
      {u"\"a\"b\"", u"a\"b\""}, {u"\"\"", u""}, {u"\"", u""},       {u"", u""},
      {u"x", u"x"},           {u"\"x\\\"", u"x\\"},
  };
  for (const Row& row : rows) EXPECT_EQ(Show(StripQuotes(row.in)), Show(row.out)) << Show(row.in);
}

}  // namespace
