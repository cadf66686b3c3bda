#include "platform/posix/winpath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/posix/scratch_dir.h"

namespace {

using platform::posix::CurrentDirectoryWindows;
using platform::posix::FullWindowsPath;
using platform::posix::ToUnixPath;

// ---- full paths as text ---------------------------------------------------------

TEST(FullWindowsPath, ResolvesAndCollapsesLikeWindows) {
  struct Case {
    std::string path, cwd, full;
  };
  const std::vector<Case> cases = {
      {"a.txt", "C:\\work", "C:\\work\\a.txt"},
      {"a.txt", "C:\\", "C:\\a.txt"},
      {"dir\\", "C:\\work", "C:\\work\\dir\\"},
      {"..\\x", "C:\\work", "C:\\x"},
      {"..\\..\\..", "C:\\work", "C:\\"},
      {".", "C:\\work", "C:\\work"},
      {"\\x", "C:\\work\\deep", "C:\\x"},
      {"/x/y", "C:\\work", "C:\\x\\y"},
      {"C:x", "C:\\work", "C:\\work\\x"},   // the current directory is on C:
      {"c:x", "C:\\work", "C:\\work\\x"},
      {"C:", "C:\\work", "C:\\work"},
      {"D:x", "C:\\work", "D:\\x"},         // another drive: its root
      {"d:", "C:\\work", "D:\\"},
      {"C:\\a\\\\b\\", "", "C:\\a\\b\\"},   // runs of separators, trailing kept
      {"C:/a/./b/../c", "", "C:\\a\\c"},
      {"C:\\a\\..", "", "C:\\"},
      {"C:\\a\\..\\", "", "C:\\"},
      {"c:\\A", "", "c:\\A"},               // case kept as typed
      {"\\\\srv\\share\\..\\x", "", "\\\\srv\\share\\x"},  // never above the share
      {"\\\\srv\\share\\", "", "\\\\srv\\share\\"},
      {"//srv/share/a//b", "", "\\\\srv\\share\\a\\b"},
      {"x", "\\\\srv\\share\\dir", "\\\\srv\\share\\dir\\x"},
      {"\\x", "\\\\srv\\share\\dir", "\\\\srv\\share\\x"},
      {" a", "C:\\", "C:\\ a"},             // a leading space is part of the name
      {" C:\\a", "C:\\w", "C:\\w\\ C:\\a"},
      {"1:\\x", "C:\\w", "C:\\w\\1:\\x"},   // only a letter makes a drive
      {"", "C:\\work", ""},
      {"a", "", ""},                        // relative without a current directory
      {"\\a", "", ""},
      {std::string("a\0b", 3), "C:\\", ""},  // a zero byte would cut the name short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FullWindowsPath(c.path, c.cwd), c.full) << "path '" << c.path << "' cwd '" << c.cwd << "'";
  }
}

TEST(FullWindowsPath, SurvivesHugeAndOddInput) {
  const std::string huge(6000, 'a');
  EXPECT_EQ(FullWindowsPath(huge, "C:\\"), "C:\\" + huge);
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "..\\";
  EXPECT_EQ(FullWindowsPath(deep, "C:\\w"), "C:\\");
  EXPECT_EQ(FullWindowsPath("\x01\x1f\t", "C:\\"), "C:\\\x01\x1f\t");
}

TEST(LastComponent, PassesOverTrailingSeparators) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\a\\b.txt", "b.txt"}, {"C:\\a\\b\\", "b"}, {"C:\\", ""}, {"C:", ""},
      {"C:name", "name"},        {"name", "name"},    {"a/b", "b"}, {"", ""},
  };
  for (const auto& [path, last] : cases) EXPECT_EQ(platform::posix::LastComponent(path), last) << path;
}

// ---- mapping onto the file system -----------------------------------------------

class WinPath : public posix_test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    MakeDir("work");
    MakeDir("cdrive/users/me");
    MakeDir("cdrive/sub/deep");
    MakeDir("cdrive/subway");
    MakeDir("prefix/dosdevices");
    MakeLink(At("cdrive"), "prefix/dosdevices/c:");
    MakeLink(At("cdrive/sub"), "prefix/dosdevices/d:");  // a drive inside another
    MakeLink(At("nowhere"), "prefix/dosdevices/e:");     // dangling: no drive
    setenv("WINEPREFIX", At("prefix").c_str(), 1);
    ASSERT_EQ(chdir(At("work").c_str()), 0);
  }
  std::string Dos(const std::string& rest) const { return At("prefix/dosdevices/") + rest; }
};

TEST_F(WinPath, MapsEveryPathForm) {
  const std::optional<std::string> none;
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"Z:\\tmp\\x", "/tmp/x"},
      {"z:\\tmp\\x", "/tmp/x"},
      {"Z:/tmp/x", "/tmp/x"},
      {"Z:\\", "/"},
      {"Z:", At("work")},  // the current directory is on Z:
      {"Z:\\tmp\\x\\", "/tmp/x/"},
      {"Z:\\tmp\\\\x", "/tmp/x"},
      {"Z:\\tmp\\.\\y\\..\\x", "/tmp/x"},
      {"Z:\\..\\..\\tmp", "/tmp"},
      {"\\tmp\\x", "/tmp/x"},
      {"/tmp/x", "/tmp/x"},
      {"a\\b", At("work/a/b")},
      {"..\\cdrive", At("cdrive")},
      {"Z:tmp", At("work/tmp")},
      {"C:\\users\\me", Dos("c:/users/me")},
      {"c:\\users", Dos("c:/users")},
      {"C:users", Dos("c:/users")},  // not the current drive: its root
      {"C:", Dos("c:")},
      {"C:\\", Dos("c:")},
      {"D:\\deep", Dos("d:/deep")},
      {"E:\\x", none},  // its link leads nowhere
      {"Q:\\x", none},  // no entry at all
      // A share, where Wine keeps shares: the prefix's dosdevices/unc.
      {"\\\\srv\\share\\x", Dos("unc/srv/share/x")},
      {"//srv/share/x", Dos("unc/srv/share/x")},
      {"\\\\srv\\share", Dos("unc/srv/share")},
      {"\\\\srv", none},
      {"\\\\.\\pipe\\x", none},
      {"", none},
      {std::string("Z:\\tmp\0x", 8), none},
      {" Z:\\tmp", At("work/ Z:/tmp")},
      {"1:\\x", At("work/1:/x")},
  };
  for (const auto& [windows, unix_path] : cases) EXPECT_EQ(ToUnixPath(windows), unix_path) << windows;
}

TEST_F(WinPath, DriveRelativeUsesTheCurrentDirectoryOnThatDrive) {
  ASSERT_EQ(chdir(At("cdrive/users").c_str()), 0);
  EXPECT_EQ(ToUnixPath("C:me"), Dos("c:/users/me"));
  EXPECT_EQ(ToUnixPath("me"), Dos("c:/users/me"));
  EXPECT_EQ(ToUnixPath("\\x"), Dos("c:/x"));  // rooted: the current drive's root
  EXPECT_EQ(ToUnixPath("Z:tmp"), "/tmp");
}

TEST_F(WinPath, DefaultPrefixIsUnderHome) {
  unsetenv("WINEPREFIX");
  MakeDir("home/.wine/dosdevices");
  MakeLink(At("cdrive"), "home/.wine/dosdevices/f:");
  setenv("HOME", At("home").c_str(), 1);
  EXPECT_EQ(ToUnixPath("F:\\users"), At("home/.wine/dosdevices/f:/users"));
  EXPECT_EQ(ToUnixPath("C:\\users"), std::nullopt);
  // An empty WINEPREFIX counts as unset.
  setenv("WINEPREFIX", "", 1);
  EXPECT_EQ(ToUnixPath("F:\\users"), At("home/.wine/dosdevices/f:/users"));
  // Wine refuses a relative prefix, and so do we.
  setenv("WINEPREFIX", "prefix", 1);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  EXPECT_EQ(ToUnixPath("C:\\users"), std::nullopt);
  unsetenv("WINEPREFIX");
  unsetenv("HOME");
  EXPECT_EQ(ToUnixPath("F:\\users"), std::nullopt);
  EXPECT_EQ(ToUnixPath("Z:\\tmp"), "/tmp");
}

TEST_F(WinPath, CurrentDirectoryInWindowsForm) {
  auto z = [](std::string p) {
    for (char& c : p) c = c == '/' ? '\\' : c;
    return "Z:" + p;
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/", "Z:\\"},
      {At("work"), z(At("work"))},
      {At("cdrive"), "C:\\"},
      {At("cdrive/users/me"), "C:\\users\\me"},
      {At("cdrive/sub"), "D:\\"},             // the longer mapping wins
      {At("cdrive/sub/deep"), "D:\\deep"},
      {At("cdrive/subway"), "C:\\subway"},     // "sub" is no leading folder of "subway"
      {At("prefix/dosdevices/c:/users"), "C:\\users"},  // reached through the link
  };
  for (const auto& [dir, windows] : cases) {
    ASSERT_EQ(chdir(dir.c_str()), 0) << dir;
    EXPECT_EQ(CurrentDirectoryWindows(), windows) << dir;
  }
}

TEST_F(WinPath, RemovedCurrentDirectoryNamesNothingRelative) {
  MakeDir("gone");
  ASSERT_EQ(chdir(At("gone").c_str()), 0);
  ASSERT_EQ(rmdir(At("gone").c_str()), 0);
  EXPECT_EQ(CurrentDirectoryWindows(), std::nullopt);
  EXPECT_EQ(ToUnixPath("a.txt"), std::nullopt);
  EXPECT_EQ(FullWindowsPath("a.txt"), "");
  // A full path needs no current directory.
  EXPECT_EQ(ToUnixPath("Z:\\tmp"), "/tmp");
  EXPECT_EQ(FullWindowsPath("C:\\x\\..\\y"), "C:\\y");
}

}  // namespace

// ---- Wine's name lookup ---------------------------------------------------------

TEST_F(WinPath, NameLookupPrefersTheExactNameThenTheFirstInByteOrder) {
  using platform::posix::MatchName;
  using platform::posix::MatchPath;
  MakeDir("look/Data/Sub");
  MakeDir("look/DATA");
  MakeFile("look/Data/Sub/Report.TXT");
  MakeFile("look/exact");
  MakeFile("look/EXACT");
  MakeFile("look/\xce\xb1\xce\xbb\xcf\x86\xce\xb1");  // Greek alpha, lamda, phi, alpha
  MakeFile("look/\xfe");                              // not UTF-8: matches nothing written as text
  platform::posix::ForgetListings();
  const std::string look = At("look");
  struct Case {
    std::string name;
    std::optional<std::string> found;
  };
  const std::vector<Case> names = {
      {"exact", "exact"},  // there as written: that one, whatever else is there
      {"Exact", "EXACT"},  // "EXACT" < "exact" in byte order
      {"data", "DATA"},
      {"\xce\x91\xce\x9b\xce\xa6\xce\x91", "\xce\xb1\xce\xbb\xcf\x86\xce\xb1"},  // upper-case Greek
      {"\xef\xbf\xbd", std::nullopt},                                              // U+FFFD is not the byte 0xFE
      {"missing", std::nullopt},
  };
  for (const Case& c : names) EXPECT_EQ(MatchName(look, c.name), c.found) << c.name;
  EXPECT_EQ(MatchName(At("nowhere"), "x"), std::nullopt);

  const std::vector<std::pair<std::string, std::string>> paths = {
      {look + "/data/sub/report.txt", look + "/DATA/sub/report.txt"},  // DATA wins and holds no Sub
      {look + "/Data/SUB/report.txt", look + "/Data/Sub/Report.TXT"},
      {look + "/Data/Sub/new.lnk", look + "/Data/Sub/new.lnk"},     // a new name stays as written
      {look + "/dATa/sub/", look + "/DATA/sub/"},                     // a trailing '/' stays
      {"/", "/"},
  };
  for (const auto& [path, onDisk] : paths) EXPECT_EQ(MatchPath(path), onDisk) << path;
}
