#include "cli/read.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/options.h"
#include "fs/paths.h"
#include "lnk/builder.h"
#include "lnk/propstore.h"

namespace mklnk::cli {
namespace {

using std::u16string;

std::string Show(const u16string& s) { return platform::ToAnsi(s); }

std::string Lines(const std::vector<u16string>& lines) {
  std::string out;
  for (const u16string& line : lines) out += Show(line) + "\n";
  return out;
}

// The link of a target, with what the row sets on it.
lnk::Link Made(const u16string& target, void (*set)(lnk::LinkData&)) {
  lnk::LinkData d;
  d.targetPath = target;
  d.drive = target[0];
  std::size_t at = 3;
  while (at < target.size()) {
    const std::size_t end = std::min(target.find(u'\\', at), target.size());
    d.items.push_back({target.substr(at, end - at), end < target.size()});
    at = end + 1;
  }
  set(d);
  lnk::Link link;
  lnk::ReadLink(lnk::BuildLinkFile(d), link);
  return link;
}

// The command line of a link, and what the tool's own splitting and option
// reader make of it again: the same link path, target and properties.
TEST(ReadCommand, LinesAndWhatTheyMakeAgain) {
  struct Row {
    const char* what;
    u16string linkPath, target;
    void (*set)(lnk::LinkData&);
    bool here;
    std::string lines;
  };
  const Row rows[] = {
      {"nothing but the target", u"C:\\l\\a.lnk", u"C:\\dir\\a.txt", [](lnk::LinkData&) {}, true,
       "C:\\l\\a C:\\dir\\a.txt\n"},
      {"every option, quoted where it must be", u"C:\\my links\\a b.lnk", u"C:\\Program Files\\x.exe",
       [](lnk::LinkData& d) {
         d.arguments = u"-x \"q\" y";
         d.workingDirectory = u"C:\\w d";
         d.description = u"a b, c";
         d.iconLocation = u"%SystemRoot%\\shell32.dll";
         d.environmentIcon = d.iconLocation;
         d.iconIndex = -3;
         d.showCommand = 7;
         d.hotKey = 0x037B;
         d.runAsAdministrator = true;
         d.propertyStore = lnk::NewStringPropertyStore(lnk::kAppUserModelFormat, lnk::kAppUserModelId, u"Company.App");
       },
       true,
       "\"C:\\my links\\a b\" \"C:\\Program Files\\x.exe\" /ARGS:\"-x \"\"q\"\" y\" /WORKDIR:\"C:\\w d\" "
       "/DESC:\"a b, c\" /ICON:%SystemRoot%\\shell32.dll,-3 /SHOW:min /HOTKEY:Ctrl+Shift+F12 /ADMIN /APPID:Company.App\n"},
      {"a folder that is not here", u"C:\\a.lnk", u"D:\\far away", [](lnk::LinkData& d) {
         if (!d.items.empty()) d.items.back().isFolder = true;
         d.showCommand = 3;
         d.hotKey = 0x0437;
       },
       false, "C:\\a \"D:\\far away\" /SHOW:max /HOTKEY:Alt+7 /TYPE:folder\n"},
      {"what the line cannot carry", u"C:\\a.LNK", u"C:\\x", [](lnk::LinkData& d) {
         d.showCommand = 2;
         d.hotKey = 0x0041;
         d.description = u"see /showargs";
         // An ID with a space, and a property beside it that no option makes.
         d.propertyStore = lnk::SetStringProperty(
             lnk::NewStringPropertyStore(lnk::kAppUserModelFormat, lnk::kAppUserModelId, u"My App"),
             lnk::kAppUserModelFormat, 2, u"x.exe").store;
       },
       true,
       "warning: the description holds /showargs, which makes the line echo\n"
       "warning: the show command 2 has no /SHOW: word\n"
       "warning: the hot key 0x0041 has no /HOTKEY: spelling\n"
       "warning: the AppUserModelID has a space or more than 128 characters, which /APPID: does not take\n"
       "warning: the line cannot carry the property store block (0xA0000009)\n"
       "C:\\a C:\\x /DESC:\"see /showargs\" /APPID:\"My App\"\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const lnk::Link link = Made(row.target, row.set);
    const std::vector<u16string> lines = CommandLines(row.linkPath, link, lnk::Describe(link), row.here);
    EXPECT_EQ(Lines(lines), row.lines);
    if (row.lines.starts_with("warning")) continue;
    OptionReader options;
    const u16string rest = options.TakeSlashOptions(lines.back());
    const SplitResult split = SplitArguments(rest);
    ASSERT_EQ(split.outcome, Outcome::Run);
    EXPECT_EQ(Show(fs::StripQuotes(split.link)) + ".lnk", Show(row.linkPath));
    EXPECT_EQ(Show(fs::StripQuotes(split.target)), Show(row.target));
    lnk::LinkData d;
    row.set(d);
    const platform::LinkProperties& p = options.options().link;
    EXPECT_EQ(Show(p.arguments), Show(d.arguments));
    EXPECT_EQ(Show(p.workingDirectory), Show(d.workingDirectory));
    EXPECT_EQ(Show(p.description), Show(d.description));
    EXPECT_EQ(Show(p.iconLocation), Show(d.iconLocation));
    EXPECT_EQ(p.iconIndex, d.iconIndex);
    EXPECT_EQ(p.showCommand, d.showCommand);
    EXPECT_EQ(p.hotKey, d.hotKey);
    EXPECT_EQ(p.runAsAdministrator, d.runAsAdministrator);
    EXPECT_EQ(Show(p.appId), d.propertyStore.empty() ? "" : "Company.App");
    EXPECT_EQ(options.options().targetType, row.here ? TargetType::kUnsaid : TargetType::kFolder);
  }
  // A Control Panel item has no path to give.
  lnk::Link none;
  lnk::ReadLink(std::string("\x4c\0\0\0\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0\x46", 20), none);
  EXPECT_EQ(Lines(CommandLines(u"C:\\a.lnk", none, lnk::Describe(none), true)),
            "Error: \"C:\\a.lnk\" names no target path that a command line can give.\n");
}

TEST(ReadOutput, JsonTextAndOperands) {
  EXPECT_EQ(JsonString(u"a\"\\\n\t\x01\x7F\u00E9\U0001F600/"), R"("a\"\\\n\t\u0001\u007F\u00E9\uD83D\uDE00/")");
  // Text for a terminal: controls and direction marks by their numbers.
  lnk::Link link = Made(u"C:\\x", [](lnk::LinkData& d) { d.description = u"a\r\nb\u202Ec"; });
  EXPECT_EQ(Lines(TextLines(u"f\n.lnk", link, lnk::Describe(link))),
            "f\\x0A.lnk\n  target: C:\\x (file)\n  description: a\\x0D\\x0Ab\\u202Ec\n  item list: C:\\x\n"
            "  LinkInfo local path: C:\\x (fixed drive, serial 0000-0000)\n");
  using Words = std::vector<u16string>;
  EXPECT_EQ(ReadOperands(u"a.lnk  \"b c.lnk\" d\"e f\"g \"\""), (Words{u"a.lnk", u"b c.lnk", u"de fg", u""}));
  EXPECT_EQ(ReadOperands(u"  "), Words{});
}

}  // namespace
}  // namespace mklnk::cli
