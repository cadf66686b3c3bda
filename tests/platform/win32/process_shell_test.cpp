// The process queries and the Shell objects, in the test program itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "support/tempdir.h"

namespace platform {
std::unique_ptr<ShellObject> CreateSystemShell();
}

namespace {

using testsupport::TempDir;

TEST(ExecutableBaseName, IsTheFileNameWithoutFolderAndExtension) {
  EXPECT_EQ(platform::ExecutableBaseName(), u"mklnk_tests");
}

TEST(FileDescription, IsEmptyWithoutAVersionResource) {
  // The test program carries no version resource; the answer is simply
  // empty.
  EXPECT_EQ(platform::FileDescription(), u"");
}

// The folder as the Shell names it: the scratch folder's long path.
std::u16string LongPath(const std::u16string& path) {
  wchar_t buffer[32768];
  const DWORD n = GetLongPathNameW(reinterpret_cast<const wchar_t*>(path.c_str()), buffer, 32768);
  if (n == 0 || n >= 32768) return path;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), n);
}

bool SameText(const std::u16string& a, const std::u16string& b) {
  return platform::UpperCase(a) == platform::UpperCase(b);
}

TEST(SystemShell, WalksFromAFolderToItsItems) {
  TempDir dir;
  dir.MakeFile("doc.txt", "x");
  std::unique_ptr<platform::ShellObject> shell = platform::CreateSystemShell();
  ASSERT_NE(shell, nullptr);

  std::unique_ptr<platform::FolderObject> folder = shell->NameSpace(dir.win());
  ASSERT_NE(folder, nullptr);
  std::unique_ptr<platform::FolderItemObject> self = folder->Self();
  ASSERT_NE(self, nullptr);
  std::u16string path = self->Path();
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  EXPECT_TRUE(SameText(LongPath(path), LongPath(dir.win())))
      << testing::PrintToString(path);

  std::unique_ptr<platform::FolderItemsObject> items = folder->Items();
  ASSERT_NE(items, nullptr);
  std::unique_ptr<platform::FolderItemObject> doc = items->Item(u"doc.txt");
  ASSERT_NE(doc, nullptr);
  EXPECT_TRUE(SameText(LongPath(doc->Path()), LongPath(dir.win("doc.txt"))));
  EXPECT_EQ(items->Item(u"no such file.txt"), nullptr);
}

TEST(SystemShell, AnswersNullForAFolderThatIsNotThere) {
  TempDir dir;
  std::unique_ptr<platform::ShellObject> shell = platform::CreateSystemShell();
  EXPECT_EQ(shell->NameSpace(dir.win("missing")), nullptr);
}

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(SystemShell, AFailedCallThrowsWithADescription) {
  // Wine's Shell cannot open a file that is not a link as a link object; the
  // failure carries a description naming the call.
  if (!UnderWine()) GTEST_SKIP() << "the failure is Wine's; what Windows answers depends on its Shell";
  TempDir dir;
  dir.MakeFile("doc.txt", "not a link");
  std::unique_ptr<platform::ShellObject> shell = platform::CreateSystemShell();
  std::unique_ptr<platform::FolderObject> folder = shell->NameSpace(dir.win());
  ASSERT_NE(folder, nullptr);
  std::unique_ptr<platform::FolderItemObject> doc = folder->Items()->Item(u"doc.txt");
  ASSERT_NE(doc, nullptr);
  try {
    doc->GetLink();
    FAIL() << "Wine's Shell gave a link object";
  } catch (const platform::ShellFailure& failure) {
    const std::u16string& d = failure.description;
    EXPECT_NE(d.find(u" (FolderItem.GetLink, 0x8"), std::u16string::npos) << platform::ToAnsi(d);
    // A description of its own comes first, trimmed of line ends.
    EXPECT_NE(d.substr(0, 2), u" (");
    EXPECT_EQ(d.find_first_of(u"\r\n"), std::u16string::npos);
  }
}

}  // namespace
