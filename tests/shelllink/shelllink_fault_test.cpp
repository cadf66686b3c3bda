// What a save that goes wrong half-way leaves behind: the link folder holds
// the new, complete link or exactly what it held before, never a partial
// .lnk and never a lost older link.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "console/bas_Console.h"
#include "shelllink/bas_ShellLink.h"
#include "support/capture.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

// The native path of a Windows path as the tests write them.
fs::path NativeOf(const std::u16string& win) {
#ifdef _WIN32
  return fs::path(win);
#else
  std::string native = platform::ToAnsi(win.substr(2));  // Z:\x is /x
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return fs::path(native);
#endif
}

// How the Shell lets the writer down while it saves.
enum class SaveFault {
  HalfThenFail,    // writes part of the link, then fails
  RemoveThenFail,  // removes the file it was opened on, then fails
  OutOfMemory,     // writes part of the link, then runs out of memory
};

SaveFault g_fault = SaveFault::HalfThenFail;

class FaultyLink : public platform::ShellLinkObject {
 public:
  explicit FaultyLink(std::u16string file) : file_(std::move(file)) {}
  void SetPath(const std::u16string&) override {}
  void SetDescription(const std::u16string&) override {}
  void SetWorkingDirectory(const std::u16string&) override {}
  void SetArguments(const std::u16string&) override {}
  void Save() override {
    const fs::path native = NativeOf(file_);
    switch (g_fault) {
      case SaveFault::HalfThenFail:
        std::ofstream(native, std::ios::binary) << std::string("L\0\0\0\x01\x14", 6);
        throw platform::ShellFailure{u"The device is not ready."};
      case SaveFault::RemoveThenFail: {
        std::error_code ec;
        fs::remove(native, ec);
        throw platform::ShellFailure{u"The file was removed."};
      }
      case SaveFault::OutOfMemory:
        std::ofstream(native, std::ios::binary) << "L";
        throw std::bad_alloc();
    }
  }

 private:
  std::u16string file_;
};

class Item : public platform::FolderItemObject {
 public:
  explicit Item(std::u16string path) : path_(std::move(path)) {}
  std::u16string Path() override { return path_; }
  std::unique_ptr<platform::ShellLinkObject> GetLink() override { return std::make_unique<FaultyLink>(path_); }

 private:
  std::u16string path_;
};

class Items : public platform::FolderItemsObject {
 public:
  explicit Items(std::u16string folder) : folder_(std::move(folder)) {}
  std::unique_ptr<platform::FolderItemObject> Item(const std::u16string& name) override {
    return std::make_unique<::Item>(folder_ + u"\\" + name);
  }

 private:
  std::u16string folder_;
};

class Folder : public platform::FolderObject {
 public:
  explicit Folder(std::u16string path) : path_(std::move(path)) {}
  std::unique_ptr<platform::FolderItemObject> Self() override { return std::make_unique<Item>(path_); }
  std::unique_ptr<platform::FolderItemsObject> Items() override { return std::make_unique<::Items>(path_); }

 private:
  std::u16string path_;
};

class FaultyShell : public platform::ShellObject {
 public:
  std::unique_ptr<platform::FolderObject> NameSpace(const std::u16string& folder) override {
    return std::make_unique<Folder>(folder);
  }
};

std::unique_ptr<platform::ShellObject> MakeFaultyShell() { return std::make_unique<FaultyShell>(); }

class ShellLinkFaultTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetShellFactory(nullptr); }
};

TEST_F(ShellLinkFaultTest, FailedSaveLeavesTheFolderAsItWas) {
  struct Row {
    SaveFault fault;
    std::string printed;
  };
  const Row rows[] = {
      {SaveFault::HalfThenFail, "Error: The device is not ready.\r\n"},
      {SaveFault::RemoveThenFail, "Error: The file was removed.\r\n"},
      {SaveFault::OutOfMemory, "Error: out of memory.\r\n"},
  };
  enum class Older { None, Plain, ReadOnly };
  platform::SetShellFactory(&MakeFaultyShell);
  for (const Older older : {Older::None, Older::Plain, Older::ReadOnly}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.printed + " older=" + std::to_string(static_cast<int>(older)));
      TempDir t;
      t.MakeDir("links");
      t.MakeFile("target.txt", "data");
      t.MakeFile("links/other.lnk", "another link");
      if (older != Older::None) t.MakeFile("links/doc.lnk", "older link");
      if (older == Older::ReadOnly) t.SetReadOnly("links/doc.lnk");
      testsupport::Capture out;
      bas_Console::SetStdOutput(out.handle());
      g_fault = row.fault;

      EXPECT_FALSE(bas_ShellLink::CreateShellLink(t.win("links"), t.win(), u"target.txt", u"doc", u"", u""));
      EXPECT_EQ(out.Bytes(), row.printed);
      std::set<std::string> expected{"other.lnk"};
      if (older != Older::None) expected.insert("doc.lnk");
      EXPECT_EQ(t.List("links"), expected);
      EXPECT_EQ(t.Read("links/other.lnk"), "another link");
      if (older != Older::None) {
        EXPECT_EQ(t.Read("links/doc.lnk"), "older link");
      }
    }
  }
}

#ifndef _WIN32
// The target is tested before the writer runs; should it go in between,
// the Shell still saves the link, as Windows saves a link to a missing
// target, and the link is whole.
TEST_F(ShellLinkFaultTest, TargetRemovedBeforeTheSave) {
  for (const bool older : {false, true}) {
    SCOPED_TRACE(older ? "older link" : "no older link");
    TempDir t;
    t.MakeDir("links");
    t.MakeDir("gone");
    t.MakeFile("gone/target.txt", "data");
    if (older) t.MakeFile("links/doc.lnk", "older link");
    fs::remove_all(t.native("gone"));
    testsupport::Capture out;
    bas_Console::SetStdOutput(out.handle());

    ASSERT_TRUE(bas_ShellLink::CreateShellLink(t.win("links"), t.win("gone") + u"\\", u"target.txt", u"doc", u"",
                                               u""));
    EXPECT_EQ(out.Bytes(), "");
    EXPECT_EQ(t.List("links"), std::set<std::string>{"doc.lnk"});
    const std::string bytes = t.Read("links/doc.lnk");
    // The header of a shell link: its size and the link class.
    const std::string header("\x4c\0\0\0\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0\x46", 20);
    ASSERT_GT(bytes.size(), 76u);
    EXPECT_EQ(bytes.substr(0, 20), header);
    // The target's name, as the link's last item carries it.
    const std::string name("t\0a\0r\0g\0e\0t\0.\0t\0x\0t\0", 20);
    EXPECT_NE(bytes.find(name), std::string::npos);
  }
}
#endif

}  // namespace
