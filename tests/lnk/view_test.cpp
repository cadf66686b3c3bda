#include "lnk/view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/read.h"
#include "lnk/builder.h"
#include "support/bytes.h"

namespace lnk {
namespace {

using std::string;
using std::u16string;
using testsupport::Block;
using testsupport::U16;
using testsupport::U32;
using testsupport::Utf8;

string Wide(std::u16string_view text) { return testsupport::Utf16(text) + U16(0); }
// One item: its size, its class byte, the rest.
string Item(std::uint8_t type, const string& rest) { return U16(rest.size() + 3) + static_cast<char>(type) + rest; }
// A GUID as stored, from its text.
string Guid(const char* text) {
  auto hex = [&](int at) { return static_cast<char>(std::stoi(string(text + at, 2), nullptr, 16)); };
  string out;
  for (int at : {7, 5, 3, 1, 12, 10, 17, 15, 20, 22, 25, 27, 29, 31, 33, 35}) out += hex(at);
  return out;
}
const char* kComputer = "{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
// A file entry (0x31 folder, 0x32 file; +4 for a UTF-16 name), with a
// 0xBEEF0004 block of `version` holding the long name, or none (version 0);
// `nul` false leaves the stored name's NUL out, as some writers do.
string FileEntry(std::uint8_t type, std::u16string_view stored, std::u16string_view longName, int version,
                 bool nul = true) {
  string rest = string(1, '\0') + U32(0) + U32(0) + U16(type & 1 ? 0x10 : 0x20);
  if (type & 4) {
    rest += Wide(stored);
    if (!nul) rest.resize(rest.size() - 2);
  } else {
    rest += string(stored.begin(), stored.end()) + (nul ? string(1, '\0') : "");
  }
  if (rest.size() % 2 == 0) rest += '\0';  // the block on an even offset of the item
  if (version == 0) return Item(type, rest);
  const std::size_t at = rest.size() + 3;
  const std::size_t nameAt = version >= 9 ? 46 : version >= 8 ? 42 : version >= 7 ? 38 : 20;
  string block = U16(version) + U32(0xBEEF0004) + string(nameAt - 8, '\0') + Wide(longName);
  block = U16(block.size() + 4) + block + U16(at);
  return Item(type, rest + block);
}

struct ItemsRow {
  const char* what;
  string items;
  const char* path;  // "-" for none
  const char* names;
  const char* warnings;
};

string Names(const ItemList& list) {
  string s;
  for (const lnk::Item& i : list.items) {
    s += (s.empty() ? "" : "|") + i.kind + ":" + Utf8(i.name);
    if (!i.shortName.empty()) s += "(" + Utf8(i.shortName) + ")";
  }
  return s;
}

TEST(LinkView, ItemLists) {
  const string computer = Item(0x1F, string(1, '\x50') + Guid(kComputer));
  const string drive = Item(0x2F, "C:\\" + string(19, '\0'));
  const ItemsRow rows[] = {
      {"drive, folder by its long name (Vista), file", computer + drive + FileEntry(0x31, u"TEMPFO~1", u"Temp folder", 9) +
           FileEntry(0x32, u"a.txt", u"a.txt", 3) + U16(0),
       "C:\\Temp folder\\a.txt", "root:My Computer|drive:C:\\|folder:Temp folder(TEMPFO~1)|file:a.txt", ""},
      {"long names of versions 7 and 8; a name without its block", computer + drive +
           FileEntry(0x31, u"A", u"Seven", 7) + FileEntry(0x31, u"B", u"Eight", 8) + FileEntry(0x32, u"c", u"", 0) + U16(0),
       "C:\\Seven\\Eight\\c", "root:My Computer|drive:C:\\|folder:Seven(A)|folder:Eight(B)|file:c", ""},
      {"a UTF-16 name without its NUL, the block right after it", computer + drive +
           FileEntry(0x36, u"\u64AD\u653E", u"\u64AD\u653E.exe", 8, false) + U16(0),
       "C:\\\xE6\x92\xAD\xE6\x94\xBE.exe", "root:My Computer|drive:C:\\|file:\xE6\x92\xAD\xE6\x94\xBE.exe(\xE6\x92\xAD\xE6\x94\xBE)", ""},
      {"a share, down the network's parts", Item(0x1F, "\x50" + Guid("{208D2C60-3AEA-1069-A2D7-08002B30309D}")) +
           Item(0x41, string(2, '\x01') + "Entire Network" + string(3, '\0')) +
           Item(0x42, string(2, '\x01') + "\\\\srv" + string(3, '\0')) +
           Item(0xC3, string(2, '\x01') + "\\\\srv\\share" + string(3, '\0')) + FileEntry(0x32, u"f", u"f", 0) + U16(0),
       "\\\\srv\\share\\f", "root:My Network Places|network:Entire Network|network:\\\\srv|network:\\\\srv\\share|file:f", ""},
      {"a Control Panel item names no path",
       Item(0x1F, "\x50" + Guid("{26EE0668-A00A-44D7-9371-BEB064C98683}")) +
           Item(0x71, string(11, '\0') + Guid("{BB06C0E4-D293-4F75-8A90-CB05B6477EEE}")) + U16(0),
       "-", "root:All Control Panel Items|control panel:System", ""},
      {"items relative to the desktop name no path", FileEntry(0x31, u"x", u"x", 0) + U16(0), "-", "folder:x", ""},
      {"an unknown item ends the path", computer + drive + Item(0x99, "zz") + FileEntry(0x32, u"f", u"f", 0) + U16(0),
       "-", "root:My Computer|drive:C:\\|unknown:|file:f", ""},
      {"no terminal item", computer + drive, "C:\\", "root:My Computer|drive:C:\\",
       "the item list ends without its terminal item;"},
      {"an item past the list's end", computer + U16(200) + "\x2F" + "C:\\", "-", "root:My Computer",
       "an item of the item list reaches past the list's end;"},
      {"an item too short for its type", computer + U16(2), "-", "root:My Computer",
       "an item of the item list is shorter than its type field;"},
      {"a name without its NUL and no block", computer + drive + Item(0x32, string(11, '\0') + "abc"), "C:\\",
       "root:My Computer|drive:C:\\|file:", "an item's name is not terminated inside the item;the item list ends "
                                           "without its terminal item;"},
  };
  for (const ItemsRow& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<string> warnings;
    const ItemList list = ReadItems(row.items, warnings);
    string w;
    for (const string& s : warnings) w += s + ";";
    EXPECT_EQ(w, row.warnings);
    EXPECT_EQ(Utf8(list.path.value_or(u"-")), row.path);
    EXPECT_EQ(Names(list), row.names);
  }
}

// The LinkInfo as the builder writes it, and with its offsets damaged.
TEST(LinkView, LinkInfo) {
  LinkData d;
  d.targetPath = u"C:\\dir\\a.txt";
  d.drive = u'C';
  d.items = {{u"dir", true}, {u"a.txt", false}};
  d.driveSerial = 0x1234ABCD;
  d.volumeLabel = u"DATA";
  Link link;
  ASSERT_EQ(ReadLink(BuildLinkFile(d), link), ReadStatus::kLink);
  std::vector<string> warnings;
  LinkInfoView v = ReadLinkInfo(link.linkInfo, warnings);
  EXPECT_TRUE(v.volume);
  EXPECT_EQ(v.driveType, 3u);
  EXPECT_EQ(v.driveSerial, 0x1234ABCDu);
  EXPECT_EQ(v.volumeLabel, u"DATA");
  EXPECT_EQ(v.localPath, u"C:\\dir\\a.txt");
  EXPECT_TRUE(v.singleByteBasePath);

  d.location = LinkData::Location::kNetwork;
  d.netName = u"\\\\SRV\\\u00C9T\u00C9";
  d.pathSuffix = u"dir\\a.txt";
  ASSERT_EQ(ReadLink(BuildLinkFile(d), link), ReadStatus::kLink);
  v = ReadLinkInfo(link.linkInfo, warnings);
  EXPECT_FALSE(v.volume);
  EXPECT_EQ(v.networkShare, u"\\\\SRV\\\u00C9T\u00C9");  // from the Unicode copy
  EXPECT_EQ(v.pathSuffix, u"dir\\a.txt");
  EXPECT_EQ(v.networkPath, u"\\\\SRV\\\u00C9T\u00C9\\dir\\a.txt");
  EXPECT_TRUE(warnings.empty());
  // The item list names \\srv\état in other letters: the same place.
  EXPECT_EQ(Describe(link).warnings, std::vector<string>{});

  // Offsets that point outside, a header too short: what can be read, and
  // one warning.
  string bad = link.linkInfo;
  bad[20] = '\x7F';  // the network share's offset
  v = ReadLinkInfo(bad, warnings);
  EXPECT_EQ(warnings.back(), "the LinkInfo holds an offset or size that lies outside it");
  EXPECT_EQ(v.networkShare, u"");
  warnings.clear();
  ReadLinkInfo(U32(12) + U32(100) + U32(3), warnings);
  EXPECT_EQ(warnings, std::vector<string>{"the LinkInfo's header is damaged"});
}

TEST(LinkView, Blocks) {
  const string env = string("C:\\ansi") + string(253, '\0') + Wide(u"%WINDIR%\\x") + string(498, '\0');
  const string ansiOnly = string("C:\\ansi") + string(253 + 520, '\0');
  const string tracker = U32(0x58) + U32(0) + string("wks-01") + string(10, '\0') + Guid(kComputer) +
                         string(48, '\x11');
  struct Row {
    string block;
    const char* name;
    const char* fields;
  };
  const Row rows[] = {
      {Block(0xA0000001, env), "environment", "text=%WINDIR%\\x"},
      {Block(0xA0000001, ansiOnly), "environment", "text=C:\\ansi"},
      {Block(0xA0000007, env), "icon environment", "text=%WINDIR%\\x"},
      {Block(0xA0000003, tracker), "tracker",
       "machine_id=wks-01 volume_id={20D04FE0-3AEA-1069-A2D8-08002B30309D} "
       "object_id={11111111-1111-1111-1111-111111111111} birth_volume_id={11111111-1111-1111-1111-111111111111} "
       "birth_object_id={11111111-1111-1111-1111-111111111111}"},
      {Block(0xA000000B, Guid("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}") + U32(40)), "known folder",
       "folder_id={FDD39AD0-238F-46AF-ADB4-6C85480369C7} folder_name=Documents offset=40"},
      {Block(0xA000000B, Guid("{00000000-0000-0000-0000-000000000001}") + U32(0)), "known folder",
       "folder_id={00000000-0000-0000-0000-000000000001} offset=0"},
      {Block(0xA0000005, U32(0x26) + U32(7)), "special folder", "folder_id=38 folder_name=ProgramFiles offset=7"},
      {Block(0xA0000005, U32(999) + U32(7)), "special folder", "folder_id=999 offset=7"},
      {Block(0xA0000004, U32(65001)), "console code page", "code_page=65001"},
      {Block(0xA0000008, Wide(u"WinXPSp3")), "shim", "layer_name=WinXPSp3"},
      {Block(0xA000000C, Item(0x1F, "\x50" + Guid(kComputer)) + U16(0)), "Vista item list", "items=1"},
      {Block(0xA0000003, string(10, '\0')), "tracker", "(too short)"},
      {Block(0xA0000010, "abc"), "unknown", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ExtraBlock b;
    b.bytes = row.block;
    b.signature = 0xA0000000u | static_cast<unsigned char>(row.block[4]);  // every row's is 0xA00000XX
    std::vector<string> warnings;
    const BlockView v = ReadBlock(b, warnings);
    EXPECT_EQ(v.name, row.name);
    string fields;
    for (const Field& f : v.fields) {
      fields += (fields.empty() ? "" : " ") + f.key + "=" +
                (f.kind == Field::Kind::kText ? Utf8(f.text) : std::to_string(f.number));
    }
    if (!v.known && v.name != "unknown") fields = "(too short)";
    EXPECT_EQ(fields, row.fields);
    EXPECT_EQ(warnings.empty(), v.known || v.name == "unknown");
  }
}

// Where the parts of a link disagree or hide something: one warning each.
TEST(LinkView, Warnings) {
  auto warnings = [](const LinkData& d, auto&& change) {
    Link link;
    ReadLink(BuildLinkFile(d), link);
    change(link);
    string w;
    for (const string& s : Describe(link).warnings) w += s + ";";
    return w;
  };
  LinkData d;
  d.targetPath = u"C:\\dir\\a.txt";
  d.drive = u'C';
  d.items = {{u"dir", true}, {u"a.txt", false}};
  auto none = [](Link&) {};
  EXPECT_EQ(warnings(d, none), "");
  d.arguments = u16string(261, u'x');
  EXPECT_EQ(warnings(d, none), "the arguments hold 261 characters; Windows' dialogs show only the first 260;");
  d.arguments = u"-x  ";
  d.workingDirectory = u"C:\\dir   ";
  EXPECT_EQ(warnings(d, none), "the arguments ends in 2 spaces;the working directory ends in 3 spaces;");
  d.arguments = u"a";
  d.workingDirectory.clear();
  // Text after a NUL, and half a surrogate pair.
  EXPECT_EQ(warnings(d, [](Link& l) { l.string(StringId::kArguments) = MakeCountedString(std::u16string_view(u"a\0hidden", 8), true); }),
            "the arguments hold 6 characters after a NUL, which Windows does not read;");
  EXPECT_EQ(warnings(d, [](Link& l) { l.string(StringId::kArguments) = MakeCountedString(u"a\xD800z", true); }),
            "the arguments hold a UTF-16 unit that is no character;");
  // The LinkInfo leads elsewhere than the item list.
  LinkData other = d;
  other.targetPath = u"C:\\other\\a.txt";
  Link elsewhere;
  ReadLink(BuildLinkFile(other), elsewhere);
  EXPECT_EQ(warnings(d, [&](Link& l) { l.linkInfo = elsewhere.linkInfo; }),
            "the item list and the LinkInfo's local path name different targets;");
  // A flag for a block that is not there.
  EXPECT_EQ(warnings(d, [](Link& l) {
              l.header.linkFlags |= kHasExpString;
              SetHeaderFields(l.header);
            }),
            "the link says its target has variables, but holds no environment block;");
}

TEST(LinkView, TimesAndGuids) {
  EXPECT_EQ(FileTimeText(0), "1601-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeText(132000000000000000ull), "2019-04-17T18:40:00Z");
  EXPECT_EQ(FileTimeText(132000000000000000ull + 1234500), "2019-04-17T18:40:00.12345Z");
  EXPECT_EQ(FileTimeText(116444736000000000ull - 1), "1969-12-31T23:59:59.9999999Z");
  EXPECT_EQ(FileTimeText(0xFFFFFFFFFFFFFFFFull), "60056-05-28T05:36:10.9551615Z");
  EXPECT_EQ(GuidText(Guid(kComputer)), kComputer);
  EXPECT_EQ(GuidText("short"), "");
}

// Every public sample, whole, cut short and with bytes changed: read
// without a fault, written back as it was, and printed in every form.
TEST(LinkView, SamplesWholeAndDamaged) {
  std::size_t count = 0;
  for (const auto& sample : testsupport::Samples()) {
    ++count;
    SCOPED_TRACE(sample.first);
    const string& file = sample.second;
    auto read = [&file](const string& bytes) {
      Link link;
      if (ReadLink(bytes, link) != ReadStatus::kLink) return false;
      EXPECT_EQ(WriteLink(link), bytes);
      if (bytes.size() < file.size() && file.compare(0, bytes.size(), bytes) == 0) {
        EXPECT_FALSE(link.warnings.empty()) << bytes.size();  // a link cut short says so
      }
      const LinkView view = Describe(link);
      mklnk::cli::TextLines(u"x.lnk", link, view);
      mklnk::cli::CommandLines(u"x.lnk", link, view, false);
      const u16string json = mklnk::cli::JsonLine(u"x.lnk", link, view);
      EXPECT_TRUE(std::all_of(json.begin(), json.end(), [](char16_t c) { return c >= 0x20 && c < 0x7F; }));
      return true;
    };
    ASSERT_TRUE(read(file));
    for (std::size_t n = 0; n < file.size(); n += 13) read(file.substr(0, n));
    std::uint32_t seed = 1;
    for (int i = 0; i < 100; ++i) {
      string flipped = file;
      seed = seed * 1103515245 + 12345;
      flipped[76 + seed % (file.size() - 76)] ^= static_cast<char>(1 << (seed >> 16) % 8);
      // A size field of 0xFFFF (or 0xFFFFFFFF) wherever the change fell.
      if (i % 4 == 0) flipped.replace(76 + seed % (file.size() - 80), 4, "\xFF\xFF\xFF\xFF");
      read(flipped);
    }
  }
  EXPECT_GE(count, 12u);
}

}  // namespace
}  // namespace lnk
