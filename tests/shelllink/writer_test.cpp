#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "console/line_writer.h"
#include "shelllink/writer.h"
#include "support/capture.h"
#include "support/tempdir.h"

namespace {

using testsupport::TempDir;

std::string Show(const std::u16string& s) { return platform::ToAnsi(s); }

// A link with arguments and a description, and nothing else of its own.
bool CreateShellLink(const std::u16string& linkFolder, const std::u16string& targetFolder,
                     const std::u16string& targetName, const std::u16string& linkName,
                     const std::u16string& arguments = u"", const std::u16string& description = u"") {
  platform::LinkProperties properties;
  properties.arguments = arguments;
  properties.description = description;
  return mklnk::shelllink::CreateShellLink(linkFolder, targetFolder, targetName, linkName, properties);
}

// A Shell that works on the real file system, records what it was asked,
// and can be told to fail at one point: a null answer, a refused save, or a
// save that goes wrong half-way.
enum class FailAt {
  Nothing, CreateShell, NoFolder, NoSelf, NoItem, NoLink,
  Save,             // refused before anything is written
  SaveRefusedWhy,   // refused, with the system's reason
  SaveHalf,         // writes part of the link, then fails
  SaveRemoves,      // removes the file it was opened on, then fails
  SaveOutOfMemory,  // writes part of the link, then runs out of memory
  SaveNoRoom,       // the file itself cannot be written: the system's reason alone
};

struct World {
  FailAt fail = FailAt::Nothing;
  std::vector<std::string> calls;
  std::function<void()> meanwhile;  // what another process does once the run's temporary file is made
};
World* g_world = nullptr;

class FakeLink : public platform::ShellLinkObject {
 public:
  explicit FakeLink(std::u16string file) : file_(std::move(file)) {}
  void SetPath(const std::u16string& s) override { Record("Path=" + Show(s)); }
  // Each property as the Shell's automation object is given it: the
  // strings always, the rest where it differs from a link's default.
  void SetProperties(const lnk::Properties& p) override {
    Record("Description=" + Show(p.description));
    Record("WorkingDirectory=" + Show(p.workingDirectory));
    Record("Arguments=" + Show(p.arguments));
    if (!p.iconLocation.empty()) Record("IconLocation=" + Show(p.iconLocation) + "," + std::to_string(p.iconIndex));
    if (p.showCommand != 1) Record("ShowCommand=" + std::to_string(p.showCommand));
    if (p.hotKey != 0) Record("Hotkey=" + std::to_string(p.hotKey));
    if (p.runAsAdministrator) Record("RunAsAdministrator");
    if (!p.appId.empty()) Record("AppUserModelId=" + Show(p.appId));
  }
  void SetPathNotHere(const std::u16string& s, bool isFolder) override {
    Record("PathNotHere=" + Show(s) + (isFolder ? " folder" : " file"));
  }
  void Save() override {
    g_world->calls.push_back("Save");
    const std::filesystem::path native = testsupport::NativePath(file_);
    const std::string half("L\0\0\0\x01\x14", 6);
    switch (g_world->fail) {
      case FailAt::Save:
        throw platform::ShellFailure{u"Access is denied."};
      case FailAt::SaveRefusedWhy:
        throw platform::ShellFailure{u"cannot write \"x\"", 2};
      case FailAt::SaveHalf:
        std::ofstream(native, std::ios::binary) << half;
        throw platform::ShellFailure{u"The device is not ready."};
      case FailAt::SaveRemoves:
        std::filesystem::remove(native);
        throw platform::ShellFailure{u"The file was removed."};
      case FailAt::SaveOutOfMemory:
        std::ofstream(native, std::ios::binary) << half;
        throw std::bad_alloc();
      case FailAt::SaveNoRoom:
        std::ofstream(native, std::ios::binary) << half;
        throw platform::ShellFailure{u"", 28};
      default:
        std::ofstream(native, std::ios::binary) << content_;
    }
  }

 private:
  void Record(const std::string& s) {
    g_world->calls.push_back(s);
    content_ += s + "\n";
  }
  std::u16string file_;
  std::string content_;
};

class FakeItem : public platform::FolderItemObject {
 public:
  explicit FakeItem(std::u16string path) : path_(std::move(path)) {}
  std::u16string Path() override {
    g_world->calls.push_back("Path");
    return path_;
  }
  std::unique_ptr<platform::ShellLinkObject> GetLink() override {
    g_world->calls.push_back("GetLink");
    if (g_world->fail == FailAt::NoLink) return nullptr;
    return std::make_unique<FakeLink>(path_);
  }

 private:
  std::u16string path_;
};

class FakeItems : public platform::FolderItemsObject {
 public:
  explicit FakeItems(std::u16string folder) : folder_(std::move(folder)) {}
  std::unique_ptr<platform::FolderItemObject> Item(const std::u16string& name) override {
    g_world->calls.push_back("Item " + Show(name));
    if (g_world->fail == FailAt::NoItem) return nullptr;
    return std::make_unique<FakeItem>(folder_ + u"\\" + name);
  }

 private:
  std::u16string folder_;
};

class FakeFolder : public platform::FolderObject {
 public:
  explicit FakeFolder(std::u16string path) : path_(std::move(path)) {}
  std::unique_ptr<platform::FolderItemObject> Self() override {
    g_world->calls.push_back("Self");
    if (g_world->fail == FailAt::NoSelf) return nullptr;
    return std::make_unique<FakeItem>(path_);
  }
  std::unique_ptr<platform::FolderItemsObject> Items() override {
    g_world->calls.push_back("Items");
    if (g_world->meanwhile) g_world->meanwhile();
    return std::make_unique<FakeItems>(path_);
  }

 private:
  std::u16string path_;
};

class FakeShell : public platform::ShellObject {
 public:
  std::unique_ptr<platform::FolderObject> NameSpace(const std::u16string& folder) override {
    g_world->calls.push_back("NameSpace " + Show(folder));
    if (g_world->fail == FailAt::NoFolder) return nullptr;
    return std::make_unique<FakeFolder>(folder);
  }
};

std::unique_ptr<platform::ShellObject> MakeFakeShell() {
  g_world->calls.push_back("CreateShell");
  if (g_world->fail == FailAt::CreateShell) throw platform::ShellFailure{u"Class not registered"};
  return std::make_unique<FakeShell>();
}

class ShellLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_world = &world;
    platform::SetShellFactory(&MakeFakeShell);
    mklnk::console::SetStdOutput(out.handle());
    t.MakeDir("links");
    t.MakeFile("target.txt", "data");
  }
  void TearDown() override {
    platform::SetShellFactory(nullptr);
    g_world = nullptr;
  }
  // The usual call: link "links\doc" to "target.txt".
  bool Create(const std::u16string& linkName = u"doc") {
    return CreateShellLink(t.win("links"), t.win(), u"target.txt", linkName);
  }

  World world;
  testsupport::Capture out;
  TempDir t;
};

TEST_F(ShellLinkTest, CallsInOrder) {
  ASSERT_TRUE(CreateShellLink(t.win("links"), t.win() + u"\\", u"target.txt", u"doc", u"-a \"x\"", u"my \"link\""));
  EXPECT_EQ(out.Bytes(), "");
  const std::string dir = Show(t.win());
  const std::vector<std::string> expected = {
      "CreateShell",
      "NameSpace " + dir + "\\links",
      "Self",
      "Path",
      "Items",
      "Item .mklnk-" + std::to_string(platform::ProcessId()) + ".lnk",  // the run's own temporary file
      "GetLink",
      "Path=" + dir + "\\target.txt",
      "Description=my \"link\"",
      "WorkingDirectory=" + dir + "\\",
      "Arguments=-a \"x\"",
      "Save",
  };
  EXPECT_EQ(world.calls, expected);
  EXPECT_EQ(t.List("links"), std::set<std::string>{"doc.lnk"});

  // Every property: a working directory and an icon file of their own,
  // made full as the target is (an icon with a %VARIABLE% stays as it is).
  platform::LinkProperties properties;
  properties.workingDirectory = u"links";
  properties.iconLocation = u"links\\i.ico";
  properties.iconIndex = -3;
  properties.showCommand = 7;
  properties.hotKey = 0x64B;
  properties.runAsAdministrator = true;
  properties.appId = u"Company.App";
  const testsupport::ChangeDir into(t.native());
  // A % that opens no variable is part of a relative name.
  for (const std::u16string icon : {u"links\\i.ico", u"%windir%\\i.ico", u"100%.ico"}) {
    world.calls.clear();
    properties.iconLocation = icon;
    ASSERT_TRUE(mklnk::shelllink::CreateShellLink(t.win("links"), t.win(), u"target.txt", u"doc", properties));
    const std::vector<std::string> tail(world.calls.end() - 10, world.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "Path=" + dir + "\\target.txt", "Description=", "WorkingDirectory=" + dir + "\\links",
                        "Arguments=",
                        "IconLocation=" + (icon[0] == u'%' ? Show(icon) : dir + "\\" + Show(icon)) + ",-3",
                        "ShowCommand=7", "Hotkey=1611", "RunAsAdministrator", "AppUserModelId=Company.App",
                        "Save"}));
  }
}

TEST_F(ShellLinkTest, OlderLinkReplacedOnlyAfterSave) {
  t.MakeFile("links/doc.lnk", "old");
  t.SetReadOnly("links/doc.lnk");
  ASSERT_TRUE(Create());
  EXPECT_EQ(t.List("links"), std::set<std::string>{"doc.lnk"});
  EXPECT_EQ(t.Read("links/doc.lnk").rfind("Path=", 0), 0u);
}

TEST_F(ShellLinkTest, Names) {
  struct Row {
    std::u16string linkFolder, targetFolder, targetName, linkName;
    std::string file;
  };
  const std::u16string links = t.win("links");
  const Row rows[] = {
      {links, t.win(), u"target.txt", u"", "target.txt.lnk"},
      {u"\"" + links + u"\\", t.win(), u"target.txt", u"doc.lnk\"", "doc.lnk.lnk"},
      {u"\"" + links + u"\"", u"\"" + t.win() + u"\\", u"target.txt\"", u"", "target.txt.lnk"},
      // Named after the target: its folder, the share, the drive letter.
      {links, t.win(), u"", u"", Show(t.win().substr(t.win().rfind(u'\\') + 1)) + ".lnk"},
      {links, t.win(), u".", u"", Show(t.win().substr(t.win().rfind(u'\\') + 1)) + ".lnk"},
      {links, u"\\\\fileserver\\public", u"", u"", "public.lnk"},
      {links, t.win().substr(0, 3), u"", u"", Show(t.win().substr(0, 1)) + ".lnk"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    ASSERT_TRUE(CreateShellLink(row.linkFolder, row.targetFolder, row.targetName, row.linkName));
    EXPECT_EQ(t.Read("links/" + row.file).rfind("Path=", 0), 0u);
  }
}

// Every way the Shell can let the writer down: one error line, false, and
// the link folder exactly as it was, an older link (read-only or not)
// included: never a partial .lnk, never a lost older link.
TEST_F(ShellLinkTest, Failures) {
  struct Row {
    FailAt fail;
    std::string message;  // the line printed, or its start when it ends in no CR LF; {links}: the link folder
  };
  const Row rows[] = {
      // Every line ends in a full stop, and a reason follows in the
      // system's words.
      {FailAt::CreateShell, "Error: Class not registered.\r\n"},
      {FailAt::SaveRefusedWhy, "Error: cannot write \"x\": " + Show(platform::ErrorMessage(2)) + ".\r\n"},
      {FailAt::NoFolder, "Error: Object variable not set: the link folder"},
      {FailAt::NoSelf, "Error: Object variable not set: the link folder"},
      {FailAt::NoItem, "Error: Object variable not set: the Shell does not list"},
      {FailAt::NoLink, "Error: the Shell gave no link object for"},
      {FailAt::Save, "Error: Access is denied.\r\n"},
      {FailAt::SaveHalf, "Error: The device is not ready.\r\n"},
      {FailAt::SaveRemoves, "Error: The file was removed.\r\n"},
      {FailAt::SaveOutOfMemory, "Error: out of memory.\r\n"},
      // Named after the link asked for, not the temporary file.
      {FailAt::SaveNoRoom, "Error: cannot write the link file \"{links}\\doc.lnk\": " +
                               Show(platform::ErrorMessage(28)) + ".\r\n"},
  };
  enum class Older { None, Plain, ReadOnly };
  for (const Older older : {Older::None, Older::Plain, Older::ReadOnly}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.message + " older=" + std::to_string(static_cast<int>(older)));
      TempDir fresh;
      fresh.MakeDir("links");
      fresh.MakeFile("links/other.lnk", "another link");
      if (older != Older::None) fresh.MakeFile("links/doc.lnk", "old");
      if (older == Older::ReadOnly) fresh.SetReadOnly("links/doc.lnk");
      testsupport::Capture capture;
      mklnk::console::SetStdOutput(capture.handle());
      world.fail = row.fail;
      EXPECT_FALSE(CreateShellLink(fresh.win("links"), fresh.win(), u"t.txt", u"doc"));
      const std::string printed = capture.Bytes();
      std::string message = row.message;
      if (const std::size_t at = message.find("{links}"); at != std::string::npos) {
        message.replace(at, 7, Show(fresh.win("links")));
      }
      if (message.ends_with("\r\n")) {
        EXPECT_EQ(printed, message);
      } else {
        EXPECT_EQ(printed.rfind(message, 0), 0u) << printed;
        EXPECT_EQ(printed.find("\r\n"), printed.size() - 2) << printed;
      }
      std::set<std::string> expected{"other.lnk"};
      if (older != Older::None) expected.insert("doc.lnk");
      EXPECT_EQ(fresh.List("links"), expected);
      EXPECT_EQ(fresh.Read("links/other.lnk"), "another link");
      if (older != Older::None) {
        EXPECT_EQ(fresh.Read("links/doc.lnk"), "old");
      }
    }
  }
}

// Another process changes the link's folder while the link is made: what
// it puts under the link's name is replaced whole by a link that is made,
// and left alone by a run that fails; and the target itself moved there is
// never replaced by a link to itself.
TEST_F(ShellLinkTest, ChangesMeanwhile) {
  struct Row {
    const char* what;
    FailAt fail;
    bool targetMovesIn;
    std::string printed;  // its start; "" when the link is made
    std::string left;     // what the link's name holds afterwards; "LINK" for the new link
  };
  const Row rows[] = {
      {"a file saved there, link made", FailAt::Nothing, false, "", "LINK"},
      {"a file saved there, save refused", FailAt::Save, false, "Error: Access is denied.", "the user's"},
      {"the target moved there", FailAt::Nothing, true, "Error: the link file \"", "data"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir fresh;
    fresh.MakeDir("links");
    fresh.MakeFile("target.txt", "data");
    testsupport::Capture capture;
    mklnk::console::SetStdOutput(capture.handle());
    world.fail = row.fail;
    world.meanwhile = [&] {
      if (row.targetMovesIn) {
        std::filesystem::rename(fresh.native("target.txt"), fresh.native("links/doc.lnk"));
      } else {
        fresh.MakeFile("links/doc.lnk", "the user's");
      }
    };
    EXPECT_EQ(CreateShellLink(fresh.win("links"), fresh.win(), u"target.txt", u"doc"),
              row.printed.empty());
    EXPECT_EQ(capture.Bytes().rfind(row.printed, 0), 0u) << capture.Bytes();
    EXPECT_EQ(fresh.List("links"), std::set<std::string>{"doc.lnk"});
    const std::string left = fresh.Read("links/doc.lnk");
    EXPECT_EQ(row.left == "LINK" ? left.substr(0, 5) : left, row.left == "LINK" ? "Path=" : row.left);
  }
  world.meanwhile = nullptr;
}

TEST_F(ShellLinkTest, EmptyFileCannotBeMade) {
  t.MakeDir("links/doc.lnk");  // a folder in the way
  EXPECT_FALSE(Create());
  const std::string printed = out.Bytes();
  EXPECT_EQ(printed.rfind("Error: cannot create the link file \"", 0), 0u) << printed;
  EXPECT_EQ(world.calls.back(), "Path");  // no link object was asked for
  EXPECT_EQ(t.List("links"), std::set<std::string>{"doc.lnk"});
}

TEST_F(ShellLinkTest, InvalidLinkNames) {
  // Device names, whatever follows them, open a device on Windows.
  for (const std::u16string name : {u"a:b", u"a|b", u"a*", u"a?", u"a<b>", u"a\"b", u"NUL", u"con", u"Aux.txt",
                                    u"lpt1 ", u"COM9", u"com\u00b2"}) {
    SCOPED_TRACE(Show(name));
    world.calls.clear();
    EXPECT_FALSE(Create(name));
    EXPECT_TRUE(world.calls.empty());
    EXPECT_TRUE(t.List("links").empty());
  }
  EXPECT_NE(out.Bytes().find("is not a valid file name."), std::string::npos);
  for (const std::u16string name : {u"NULL", u"COM0", u"LPT10", u"x.con", u"CON-1"}) {
    SCOPED_TRACE(Show(name));
    EXPECT_TRUE(Create(name));
  }
}

#ifndef _WIN32
// The target is tested before the writer runs; should it go in between,
// the Shell still saves the link, as Windows saves a link to a missing
// target, and the link is whole.
TEST(ShellLink, TargetRemovedBeforeTheSave) {
  for (const bool older : {false, true}) {
    SCOPED_TRACE(older ? "older link" : "no older link");
    TempDir t;
    t.MakeDir("links");
    t.MakeDir("gone");
    t.MakeFile("gone/target.txt", "data");
    if (older) t.MakeFile("links/doc.lnk", "older link");
    std::filesystem::remove_all(t.native("gone"));
    testsupport::Capture out;
    mklnk::console::SetStdOutput(out.handle());

    ASSERT_TRUE(CreateShellLink(t.win("links"), t.win("gone") + u"\\", u"target.txt", u"doc"));
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
