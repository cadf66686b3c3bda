#include "shelllink/replace.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace {

using mklnk::shelllink::ReplaceGroup;
using mklnk::shelllink::ReplaceOutcome;
using mklnk::shelllink::ReplaceTarget;
using testsupport::TempDir;

// One group of files in one folder, on the real file system: each row a
// name, what stands there first, and what the commit makes of it.
TEST(ReplaceGroup, CommitsEachFileInOrderAndLeavesNoTemporaryFile) {
  TempDir t;
  t.MakeDir("links/sub.lnk");
  t.MakeFile("links/old.lnk", "old");
  t.MakeFile("links/target.txt", "the target");
  const std::string folderPath = platform::ToAnsi(t.win("links"));
  ReplaceGroup group(10);
  const platform::Handle folder = group.Folder(folderPath);
  ASSERT_NE(folder, platform::kInvalidHandle);
  EXPECT_EQ(group.Folder(folderPath), folder);  // held once
  const auto target = [&](const std::string& name, bool replacing = false) {
    return ReplaceTarget{folder, name, t.win("links") + u"\\" + platform::FromAnsi(name), replacing, std::nullopt};
  };
  const std::u16string shownSub = t.win("links") + u"\\sub.lnk";
  const std::u16string shownTarget = t.win("links") + u"\\target.txt";

  const std::size_t a = group.StageBytes(target("new.lnk"), "first");
  const std::size_t b = group.StageBytes(target("old.lnk", true), "second");
  const std::size_t dropped = group.StageEmpty(target("gone.lnk"));
  EXPECT_EQ(group.TemporaryName(a), ".mklnk-" + std::to_string(platform::ProcessId()) + ".lnk");
  EXPECT_EQ(group.TemporaryName(dropped), ".mklnk-" + std::to_string(platform::ProcessId()) + "-2.lnk");
  group.Drop(dropped);
  const std::size_t folderInTheWay = group.StageBytes(target("sub.lnk"), "third");
  ReplaceTarget never = target("target.txt", true);
  never.notThis = platform::GetFileIdAt(folder, "target.txt");
  const std::size_t theTarget = group.StageBytes(never, "fourth");
  const std::size_t filledLater = group.StageEmpty(target("later.lnk"));  // never filled: no file
  (void)filledLater;

  EXPECT_TRUE(group.Pending(folder, "NEW.LNK"));
  EXPECT_TRUE(group.Pending(platform::kInvalidHandle, "Old.lnk"));
  EXPECT_FALSE(group.Pending(folder, "gone.lnk"));
  EXPECT_FALSE(group.Full());
  // Six staged, one dropped: the folder holds five temporary files.
  EXPECT_EQ(t.List("links").size(), 3u + 5u);

  group.Commit();
  const std::vector<ReplaceOutcome> outcomes = group.TakeOutcomes();
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(outcomes[0].id, a);
  EXPECT_TRUE(outcomes[0].done);
  EXPECT_EQ(outcomes[1].id, b);
  EXPECT_TRUE(outcomes[1].done);
  EXPECT_EQ(outcomes[2].id, folderInTheWay);
  EXPECT_FALSE(outcomes[2].done);
  EXPECT_EQ(outcomes[2].what, u"cannot create the link file \"" + shownSub + u"\"");
  EXPECT_NE(outcomes[2].reason, 0u);
  EXPECT_EQ(outcomes[3].id, theTarget);
  EXPECT_EQ(outcomes[3].what, u"the link file \"" + shownTarget + u"\" is the target itself.");
  EXPECT_EQ(outcomes[3].reason, 0u);
  EXPECT_TRUE(group.TakeOutcomes().empty());

  EXPECT_EQ(t.List("links"), (std::set<std::string>{"new.lnk", "old.lnk", "sub.lnk", "target.txt"}));
  EXPECT_EQ(t.Read("links/new.lnk"), "first");
  EXPECT_EQ(t.Read("links/old.lnk"), "second");
  EXPECT_EQ(t.Read("links/target.txt"), "the target");
  EXPECT_FALSE(group.Pending(folder, "new.lnk"));

  // The next group names its temporary files from the start again, and a
  // group given up removes them.
  {
    ReplaceGroup next(1);
    const std::size_t id = next.StageBytes(ReplaceTarget{next.Folder(folderPath), "x.lnk", u"x", false, {}}, "x");
    EXPECT_EQ(next.TemporaryName(id), ".mklnk-" + std::to_string(platform::ProcessId()) + ".lnk");
    EXPECT_TRUE(next.Full());
  }
  EXPECT_EQ(t.List("links"), (std::set<std::string>{"new.lnk", "old.lnk", "sub.lnk", "target.txt"}));
}

TEST(ReplaceGroup, AMissingFolderAndALeftoverTemporaryFile) {
  TempDir t;
  ReplaceGroup group;
  EXPECT_EQ(group.Folder(platform::ToAnsi(t.win("missing"))), platform::kInvalidHandle);
  t.MakeDir("links");
  const platform::Handle folder = group.Folder(platform::ToAnsi(t.win("links")));
  t.MakeFile("links/.mklnk-" + std::to_string(platform::ProcessId()) + ".lnk", "a leftover");
  // A leftover of the same number is passed over; the name is then the next.
  const std::size_t id = group.StageBytes(ReplaceTarget{folder, "a.lnk", u"A", false, {}}, "new");
  EXPECT_EQ(group.TemporaryName(id), ".mklnk-" + std::to_string(platform::ProcessId()) + "-1.lnk");
  group.Commit();
  ASSERT_EQ(group.TakeOutcomes().size(), 1u);
  EXPECT_EQ(t.Read("links/a.lnk"), "new");
}

}  // namespace
