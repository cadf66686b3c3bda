#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/attributes.h"
#include "platform/posix/scratch_dir.h"

namespace {

using namespace platform;

class Kernel : public posix_test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    MakeFile("file.txt");
    MakeFile("ro.txt", "keep", 0444);
    MakeFile(".hidden");
    MakeDir("dir");
    MakeDir("rodir", 0555);
    MakeLink("file.txt", "link");
    MakeLink("dir", "dirlink");
    MakeLink("missing", "dangling");
    MakeLink("loop", "loop");
    MakeFile("dir/a.txt");
  }
  std::string W(const std::string& rel) const { return Win(At(rel)); }
};

TEST(AttributesFromMode, MapsTypeWriteBitAndDotNames) {
  struct Case {
    unsigned mode;
    std::string name;
    std::uint32_t attributes;
  };
  const std::vector<Case> cases = {
      {S_IFREG | 0644, "a.txt", 0x80}, {S_IFREG | 0444, "a.txt", 0x01}, {S_IFDIR | 0755, "d", 0x10},
      {S_IFDIR | 0555, "d", 0x11},     {S_IFREG | 0644, ".rc", 0x02},   {S_IFREG | 0444, ".rc", 0x03},
      {S_IFDIR | 0755, ".", 0x10},     {S_IFDIR | 0755, "..", 0x10},    {S_IFREG | 0244, "w", 0x80},
      {S_IFREG | 0044, "g", 0x01},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::posix::AttributesFromMode(c.mode, c.name), c.attributes) << c.name << " " << c.mode;
  }
}

TEST_F(Kernel, AttributesAndSearchAgree) {
  MakeFile("w?ld*.txt");
  MakeDir("w*d");
  struct Case {
    std::string path;
    std::uint32_t attributes;  // kInvalidFileAttributes: nothing there
    bool found;                // FindFirstFileA finds an entry
    std::uint32_t searched = 0;  // what the search reports, when not `attributes`
  };
  const std::uint32_t none = kInvalidFileAttributes;
  const std::vector<Case> cases = {
      {W("file.txt"), 0x80, true},
      {W("ro.txt"), 0x01, true},
      {W(".hidden"), 0x02, true},
      {W("dir"), 0x10, true},
      {W("rodir"), 0x11, true},
      // A symbolic link is itself to the attribute query, as on Windows; the
      // search reports what it leads to.
      {W("link"), 0x400, true, 0x80},
      {W("dirlink"), 0x410, true, 0x10},
      {W("dangling"), 0x400, false},
      {W("loop"), 0x400, false},
      {W("missing"), none, false},
      {W("dir") + "\\", 0x10, false},  // a search for an empty name finds nothing
      {W("file.txt") + "\\", none, false},
      {W("dir") + "\\.", 0x10, true},
      {W("dir\\..\\file.txt"), 0x80, true},
      {"file.txt", 0x80, true},  // relative to the current directory
      {"dir\\a.txt", 0x80, true},
      // '*' and '?' are ordinary characters of Linux names: no wildcards.
      {W("w?ld*.txt"), 0x80, true},
      {W("w*d"), 0x10, true},
      {W("*.txt"), none, false},
      {W("fil?.txt"), none, false},
      {"Z:", 0x10, false},  // the current directory of Z:, but no name to find
      {"Z:\\", 0x10, false},
      {"", none, false},
      {" file.txt", none, false},
      {"\x01\x02\x7f", none, false},
      {W(std::string(6000, 'x')), none, false},
      {"\\\\srv\\share\\file.txt", none, false},
      {"Q:\\file.txt", none, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetFileAttributesA(c.path), c.attributes) << c.path;
    FindData data;
    const Handle h = FindFirstFileA(c.path, data);
    EXPECT_EQ(h != kInvalidHandle, c.found) << c.path;
    if (h != kInvalidHandle) {
      EXPECT_GT(h, 0) << c.path;
      EXPECT_EQ(data.attributes, c.searched ? c.searched : c.attributes) << c.path;
      EXPECT_NE(FindClose(h), 0) << c.path;
    }
  }
  EXPECT_EQ(FindClose(kInvalidHandle), 0);
}

// One file, however it is spelt; a symbolic link is itself or what it leads
// to, as asked.
TEST_F(Kernel, FileIdFollowsSpellingNotNames) {
  const std::optional<FileId> file = GetFileIdA(W("file.txt"), true);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(GetFileIdA("file.txt", false), file);
  EXPECT_EQ(GetFileIdA(W("dir\\..\\.\\file.txt"), false), file);
  EXPECT_EQ(GetFileIdA(W("link"), true), file);
  EXPECT_NE(GetFileIdA(W("link"), false), file);
  EXPECT_TRUE(GetFileIdA(W("dangling"), false).has_value());
  EXPECT_FALSE(GetFileIdA(W("dangling"), true).has_value());
  EXPECT_FALSE(GetFileIdA(W("missing"), false).has_value());
  EXPECT_NE(GetFileIdA(W("dir"), true), file);
}

// The calls a link is made with, all relative to the held folder: even
// once the folder is renamed they reach the same folder, and nothing is
// ever made over, followed through or changed beyond the one name.
TEST_F(Kernel, FolderCallsWorkInTheHeldFolder) {
  MakeFile("dir/Doc.lnk", "one");
  MakeFile("dir/DOC.lnk", "two");
  MakeFile("dir/d\xc4\xb1" "c.lnk", "dotless");  // Windows does not fold U+0131 to I
  MakeFile("precious.txt", "precious", 0444);
  ASSERT_EQ(link(At("precious.txt").c_str(), At("dir/hard.lnk").c_str()), 0);
  MakeLink("../precious.txt", "dir/sym.lnk");
  MakeDir("dir/sub");
  EXPECT_EQ(OpenFolderA(W("missing")), kInvalidHandle);
  EXPECT_EQ(OpenFolderA(W("file.txt")), kInvalidHandle);
  const Handle dir = OpenFolderA(W("DIR"));  // Wine's lookup finds it
  ASSERT_NE(dir, kInvalidHandle);

  using Names = std::vector<std::string>;
  EXPECT_EQ(FindNamesA(dir, "doc.lnk"), (Names{"DOC.lnk", "Doc.lnk"}));
  EXPECT_EQ(FindNamesA(dir, "Doc.lnk"), (Names{"DOC.lnk", "Doc.lnk"}));
  EXPECT_EQ(FindNamesA(dir, "DIC.lnk"), Names{});
  EXPECT_EQ(FindNamesA(dir, "A.TXT"), Names{"a.txt"});
  EXPECT_EQ(FindNamesA(dir, "new.lnk"), Names{});

  // A new file only where nothing has the name: not over a file, a link
  // (dangling or not) or a folder.
  EXPECT_NE(CreateNewFileA(dir, ".t.lnk"), 0);
  EXPECT_EQ(Read(At("dir/.t.lnk")), "");
  for (const char* taken : {".t.lnk", "a.txt", "sym.lnk", "sub"}) {
    SetLastError(0);
    EXPECT_EQ(CreateNewFileA(dir, taken), 0) << taken;
    EXPECT_EQ(GetLastError(), kErrorFileExists) << taken;
  }
  EXPECT_EQ(Read(At("dir/a.txt")), "data");
  EXPECT_EQ(GetFileIdAt(dir, "sym.lnk"), GetFileIdA(W("dir\\sym.lnk"), false));
  EXPECT_NE(GetFileIdAt(dir, "sym.lnk"), GetFileIdA(W("precious.txt"), true));
  EXPECT_FALSE(GetFileIdAt(dir, "missing").has_value());
  EXPECT_NE(HideFileA(dir, ".t.lnk", true), 0);

  // Replacing takes the name itself: a symbolic link is replaced, not
  // written through; a read-only file's other name keeps it read-only.
  MakeFile("dir/.u.lnk", "new");
  EXPECT_NE(ReplaceFileA(dir, ".t.lnk", "sym.lnk"), 0);
  EXPECT_NE(ReplaceFileA(dir, ".u.lnk", "hard.lnk"), 0);
  EXPECT_EQ(Read(At("dir/hard.lnk")), "new");
  EXPECT_EQ(Read(At("precious.txt")), "precious");
  EXPECT_EQ(ModeOf(At("precious.txt")), 0444u);
  EXPECT_FALSE(std::filesystem::is_symlink(At("dir/sym.lnk")));
  EXPECT_EQ(Read(At("dir/sym.lnk")), "");
  EXPECT_FALSE(Exists(At("dir/.t.lnk")));
  MakeFile("dir/.v.lnk");
  EXPECT_EQ(ReplaceFileA(dir, ".v.lnk", "sub"), 0);  // never a folder
  EXPECT_TRUE(Exists(At("dir/sub")));

  // The folder renamed meanwhile still gets its files.
  ASSERT_EQ(rename(At("dir").c_str(), At("moved").c_str()), 0);
  EXPECT_NE(CreateNewFileA(dir, ".w.lnk"), 0);
  EXPECT_NE(ReplaceFileA(dir, ".w.lnk", "w.lnk"), 0);
  EXPECT_TRUE(Exists(At("moved/w.lnk")));
  EXPECT_NE(RemoveFileA(dir, ".v.lnk"), 0);
  EXPECT_EQ(RemoveFileA(dir, ".v.lnk"), 0);
  EXPECT_FALSE(Exists(At("moved/.v.lnk")));
  CloseFolder(dir);
  EXPECT_EQ(CreateNewFileA(dir, "after.lnk"), 0);  // let go: nothing more
}

TEST_F(Kernel, CurrentDirectoryTwoCallProtocol) {
  const std::string expected = Win(root_);
  const std::uint32_t size = GetCurrentDirectoryA(0, nullptr);
  ASSERT_EQ(size, expected.size() + 1);
  std::vector<char> buffer(size + 4, '#');
  EXPECT_EQ(GetCurrentDirectoryA(size - 1, buffer.data()), size);  // too small: the size again
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(GetCurrentDirectoryA(size, buffer.data()), size - 1);
  EXPECT_EQ(std::string(buffer.data()), expected);
  EXPECT_EQ(buffer[size], '#');  // nothing written past the zero

  ASSERT_EQ(chdir("/"), 0);
  char root[4] = {};
  EXPECT_EQ(GetCurrentDirectoryA(sizeof root, root), 3u);
  EXPECT_STREQ(root, "Z:\\");

  MakeDir("gone");
  ASSERT_EQ(chdir(At("gone").c_str()), 0);
  ASSERT_EQ(rmdir(At("gone").c_str()), 0);
  EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), 0u);
  EXPECT_EQ(GetFullPathNameA("a.txt"), "");
}

TEST_F(Kernel, FullPathName) {
  const std::string cwd = Win(root_);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.txt", cwd + "\\a.txt"},
      {"dir\\..\\b\\", cwd + "\\b\\"},
      {"Z:\\a\\..\\b", "Z:\\b"},
      {"\\tmp", "Z:\\tmp"},
      {"Z:x", cwd + "\\x"},
      {"\\\\srv\\share\\x\\..", "\\\\srv\\share"},
      {"", ""},
  };
  for (const auto& [path, full] : cases) EXPECT_EQ(GetFullPathNameA(path), full) << path;
}

// ---- output -------------------------------------------------------------------------

TEST(KernelOutput, StandardHandles) {
  EXPECT_EQ(GetStdHandle(kStdOutputHandle), 1);
  EXPECT_EQ(GetStdHandle(-10), 0);
  EXPECT_EQ(GetStdHandle(-12), 2);
  EXPECT_EQ(GetStdHandle(0), kInvalidHandle);
}

TEST(KernelOutput, WriteFileSendsEveryByteThroughAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // Far more than a pipe holds: the writes come back short and must go on.
  std::string bytes(300 * 1024, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  std::string received;
  std::thread reader([&] {
    char chunk[4096];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0) received.append(chunk, static_cast<std::size_t>(n));
  });
  const bool ok = WriteFile(fds[1], bytes);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_TRUE(ok);
  EXPECT_EQ(received.size(), bytes.size());
  EXPECT_TRUE(received == bytes);
}

TEST(KernelOutput, WriteFileReportsFailure) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_FALSE(WriteFile(fds[1], "x"));  // closed descriptor
  EXPECT_FALSE(WriteFile(kInvalidHandle, "x"));
  const int ro = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(ro, 0);
  EXPECT_FALSE(WriteFile(ro, "x"));  // not open for writing
  EXPECT_TRUE(WriteFile(ro, ""));    // nothing to write is no failure
  close(ro);

  // A reader that went away (the tool ignores SIGPIPE from start-up on).
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &saved), 0);
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  EXPECT_FALSE(WriteFile(fds[1], std::string(100000, 'x')));
  close(fds[1]);
  sigaction(SIGPIPE, &saved, nullptr);
}

// ---- text ---------------------------------------------------------------------------

TEST(KernelText, Utf16AndUtf8BothWays) {
  struct Case {
    std::u16string wide;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {u"", ""},
      {u"C:\\a b.txt", "C:\\a b.txt"},
      {u"\u00e9", "\xc3\xa9"},
      {u"\u20ac", "\xe2\x82\xac"},
      {u"\uffff", "\xef\xbf\xbf"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToAnsi(c.wide), c.bytes);
    EXPECT_EQ(ToAnsiExact(c.wide), c.bytes);
    EXPECT_TRUE(FromAnsi(c.bytes) == c.wide) << c.bytes;
  }
}

TEST(KernelText, LoneSurrogatesBecomeQuestionMarks) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"a\xD800" u"b", "a?b"},
      {u"\xDC00", "?"},
      {u"\xD83D", "?"},
      {u"\xDE00\xD83D", "??"},  // the wrong order is no pair
  };
  for (const auto& [wide, bytes] : cases) {
    EXPECT_EQ(ToAnsi(wide), bytes);
    EXPECT_EQ(ToAnsiExact(wide), std::nullopt);
  }
}

TEST(KernelText, InvalidUtf8BecomesOneReplacementPerByte) {
  const std::u16string r = u"\uFFFD";
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"\xff", r},
      {"\x80", r},
      {"\xc3", r},                       // cut short at the end
      {"\xe2\x82" "A", r + r + u"A"},    // cut short before ASCII
      {"\xc0\xaf", r + r},               // overlong '/'
      {"\xe0\x80\xaf", r + r + r},       // overlong, three bytes
      {"\xed\xa0\x80", r + r + r},       // an encoded surrogate
      {"\xf4\x90\x80\x80", r + r + r + r},  // beyond U+10FFFF
      {"\xf5\x80\x80\x80", r + r + r + r},
      {"a\xc3\xa9\xff" "b", u"a\u00e9" + r + u"b"},
  };
  for (const auto& [bytes, wide] : cases) EXPECT_TRUE(FromAnsi(bytes) == wide) << bytes;
}

TEST(KernelText, UpperCase) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"", u""},
      {u"abc.lnk XYZ 09_!~", u"ABC.LNK XYZ 09_!~"},
      {u"\u00e0\u00e9\u00fe\u00f7\u00ff\u00df", u"\u00c0\u00c9\u00de\u00f7\u0178\u00df"},
      // Windows' table for file names: no fold of the dotless i, the final
      // sigma, the long s or the micro sign, which would make two names one.
      {u"\u0101\u0131\u013a\u0148\u0151\u017e", u"\u0100\u0131\u0139\u0147\u0150\u017d"},
      {u"\u03b1\u03c2\u03c9\u03ac\u03ce", u"\u0391\u03c2\u03a9\u0386\u038f"},
      {u"\u017f\u00b5\u01c6\u1f00\u2170\u24d0\u10d0\u0250", u"\u017f\u00b5\u01c4\u1f08\u2160\u24b6\u1c90\u2c6f"},
      {u"\u0430\u044f\u0451\u0463", u"\u0410\u042f\u0401\u0462"},
      {u"\uff41\U0001F600", u"\uff21\U0001F600"},
  };
  for (const auto& [in, out] : cases) EXPECT_TRUE(UpperCase(in) == out) << ToAnsi(in);
}

}  // namespace
