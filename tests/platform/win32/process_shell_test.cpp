// The process queries and the Shell objects, in the test program itself.
#include <windows.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
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

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// The link object of a new empty file doc.lnk in the folder, as the link
// writer gets it.
std::unique_ptr<platform::ShellLinkObject> LinkOn(const TempDir& dir, const std::string& folder) {
  dir.MakeDir(folder);
  dir.MakeFile(folder + "/doc.lnk", "");
  std::unique_ptr<platform::FolderObject> shellFolder = platform::CreateSystemShell()->NameSpace(dir.win(folder));
  if (!shellFolder) return nullptr;
  std::unique_ptr<platform::FolderItemObject> item = shellFolder->Items()->Item(u"doc.lnk");
  return item ? item->GetLink() : nullptr;
}

// On Windows the Shell's automation object makes the link; under Wine, whose
// Shell cannot open an empty file as a link, the system's link object does.
// Either way the system must load what was saved.
TEST(SystemShell, MakesALinkOnAnEmptyFile) {
  TempDir dir;
  dir.MakeFile("doc.txt", "x");
  std::unique_ptr<platform::ShellLinkObject> link = LinkOn(dir, "links");
  ASSERT_NE(link, nullptr);
  link->SetPath(dir.win("doc.txt"));
  lnk::Properties properties;
  properties.arguments = u"\"quoted\" -x";
  properties.description = u"the description";
  properties.workingDirectory = dir.win();
  link->SetProperties(properties);
  link->Save();
  link.reset();

  IShellLinkW* loaded = nullptr;
  ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                              reinterpret_cast<void**>(&loaded)));
  IPersistFile* file = nullptr;
  ASSERT_HRESULT_SUCCEEDED(loaded->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
  EXPECT_HRESULT_SUCCEEDED(file->Load(W(dir.win("links/doc.lnk")), STGM_READ));
  file->Release();
  wchar_t text[1024] = {};
  const auto got = [&] { return std::u16string(reinterpret_cast<const char16_t*>(text)); };
  EXPECT_HRESULT_SUCCEEDED(loaded->GetPath(text, 1024, nullptr, SLGP_RAWPATH));
  EXPECT_TRUE(SameText(LongPath(got()), LongPath(dir.win("doc.txt")))) << platform::ToAnsi(got());
  EXPECT_HRESULT_SUCCEEDED(loaded->GetDescription(text, 1024));
  EXPECT_EQ(got(), u"the description");
  EXPECT_HRESULT_SUCCEEDED(loaded->GetArguments(text, 1024));
  EXPECT_EQ(got(), u"\"quoted\" -x");
  EXPECT_HRESULT_SUCCEEDED(loaded->GetWorkingDirectory(text, 1024));
  EXPECT_TRUE(SameText(LongPath(got()), LongPath(dir.win()))) << platform::ToAnsi(got());
  loaded->Release();
}

TEST(SystemShell, AFailedSaveNamesTheFailingMembers) {
  TempDir dir;
  TempDir other;
  std::unique_ptr<platform::ShellLinkObject> link = LinkOn(dir, "gone");
  ASSERT_NE(link, nullptr);
  link->SetPath(other.win());
  lnk::Properties properties;
  properties.workingDirectory = other.win();
  link->SetProperties(properties);
  // The folder goes before the save: no route can write the file.
  std::filesystem::remove_all(dir.native("gone"));
  try {
    link->Save();
    FAIL() << "a link was saved into a folder that is gone";
  } catch (const platform::ShellFailure& failure) {
    const std::string d = platform::ToAnsi(failure.description);
    if (UnderWine()) {
      // Both routes, each with its member and code.
      EXPECT_NE(d.find(" (FolderItem.GetLink, 0x8"), std::string::npos) << d;
      EXPECT_NE(d.find("; the system's link object: "), std::string::npos) << d;
      EXPECT_NE(d.find(" (IPersistFile.Save, 0x8"), std::string::npos) << d;
    } else {
      EXPECT_NE(d.find(" (IShellLinkDual.Save, 0x8"), std::string::npos) << d;
    }
    EXPECT_NE(d.substr(0, 2), " (");
    EXPECT_EQ(d.find_first_of("\r\n"), std::string::npos) << d;
  }
}

}  // namespace
