#include "lnk/builder.h"
#include "lnk/propstore.h"

#include <gtest/gtest.h>

#include "support/hex.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace lnk {
namespace {

// 2019-04-17 18:40:00 UTC: FAT date 0x4E91, time 0x9500.
constexpr std::uint64_t kTime = 132000000000000000ull;
// 1980-01-01 00:00:00 UTC, the first moment FAT can hold.
constexpr std::uint64_t kFatEpoch = 119600064000000000ull;
constexpr std::uint64_t kSecond = 10'000'000ull;

using testsupport::Hex;

std::uint32_t U16At(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8;
}
std::uint32_t U32At(const std::string& b, std::size_t at) { return U16At(b, at) | U16At(b, at + 2) << 16; }

// NUL-terminated single-byte and UTF-16 text.
std::string Nul(std::string_view text) { return std::string(text) + '\0'; }
std::string Utf16Nul(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out + std::string(2, '\0');
}

// A target below Z:\ built from its components; the last is a folder when
// `folder_target`.
LinkData MakeData(std::vector<std::u16string> names, bool folder_target) {
  LinkData d;
  d.targetPath = u"Z:";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool folder = folder_target || i + 1 < names.size();
    d.targetPath += u"\\" + names[i];
    d.items.push_back({names[i], folder, folder ? 0u : 1234u, kTime, kTime, kTime, folder ? 0x10u : 0x20u});
  }
  if (names.empty()) d.targetPath += u"\\";
  d.targetAttributes = folder_target ? 0x10 : 0x20;
  d.targetSize = folder_target ? 0 : 1234;
  d.targetCreationTime = d.targetAccessTime = d.targetWriteTime = kTime;
  d.driveSerial = 0x12345678;
  d.volumeLabel = u"root";
  return d;
}

// What the builder refused the data for; a test fails when it took it.
template <class F>
std::optional<LinkDataError::Kind> ThrownKind(F&& build) {
  try {
    build();
  } catch (const LinkDataError& e) {
    return e.kind();
  }
  return std::nullopt;
}

// An independent walk over the file's structure: every size field must
// lead exactly to the next part, and the file must end with the terminal
// block.  Fails the test (and returns false) on the first disagreement.
struct Layout {
  std::uint32_t flags = 0;
  std::vector<std::string> items;  // raw shell items, size field included
  std::size_t link_info = 0;       // offset of LinkInfo, 0 when there is none
  std::vector<std::u16string> strings;
};

::testing::AssertionResult Walk(const std::string& b, Layout& out) {
  if (b.size() < 0x4C || U32At(b, 0) != 0x4C) return ::testing::AssertionFailure() << "header";
  out.flags = U32At(b, 20);
  std::size_t at = 0x4C;
  if (out.flags & 0x01) {
    const std::size_t list_size = U16At(b, at);
    at += 2;
    const std::size_t list_end = at + list_size;
    std::size_t sum = 0;
    while (true) {
      if (at + 2 > list_end) return ::testing::AssertionFailure() << "item list overruns its size";
      const std::size_t size = U16At(b, at);
      if (size == 0) break;
      out.items.push_back(b.substr(at, size));
      sum += size;
      at += size;
    }
    at += 2;
    if (at != list_end || sum + 2 != list_size) {
      return ::testing::AssertionFailure() << "item sizes sum to " << sum << ", list size " << list_size;
    }
  }
  if (out.flags & 0x02) {
    out.link_info = at;
    const std::uint32_t info_size = U32At(b, at), header_size = U32At(b, at + 4), parts = U32At(b, at + 8);
    const bool local = parts & 1, network = parts & 2;
    if (header_size != 0x1C && header_size != 0x24) return ::testing::AssertionFailure() << "LinkInfo header";
    // Each offset in the header points inside the LinkInfo, or is 0 for a
    // part that is not there: VolumeID, local path, network share, path
    // suffix, and in the longer header the Unicode local path and suffix.
    const bool present[] = {local, local, network, true, local, true};
    for (std::size_t field = 12; field < header_size; field += 4) {
      const std::uint32_t offset = U32At(b, at + field);
      if (present[(field - 12) / 4] ? offset < header_size || offset >= info_size : offset != 0) {
        return ::testing::AssertionFailure() << "LinkInfo offset at " << field << " is " << offset;
      }
    }
    if (local && U32At(b, at + 16) != U32At(b, at + 12) + U32At(b, at + U32At(b, at + 12))) {
      return ::testing::AssertionFailure() << "VolumeID size does not lead to the local path";
    }
    if (network && U32At(b, at + 24) != U32At(b, at + 20) + U32At(b, at + U32At(b, at + 20))) {
      return ::testing::AssertionFailure() << "the network share's size does not lead to the path suffix";
    }
    at += info_size;
  }
  for (std::uint32_t bit : {0x04u, 0x08u, 0x10u, 0x20u, 0x40u}) {
    if (!(out.flags & bit)) continue;
    const std::size_t count = U16At(b, at);
    std::u16string s;
    for (std::size_t i = 0; i < count; ++i) s.push_back(static_cast<char16_t>(U16At(b, at + 2 + 2 * i)));
    out.strings.push_back(s);
    at += 2 + 2 * count;
  }
  for (std::uint32_t size; (size = U32At(b, at)) >= 4; at += size) {
    if (size < 8 || at + size > b.size()) return ::testing::AssertionFailure() << "block of " << size << " at " << at;
  }
  if (at + 4 != b.size() || U32At(b, at) != 0) {
    return ::testing::AssertionFailure() << "no terminal block at " << at << " of " << b.size();
  }
  return ::testing::AssertionSuccess();
}

// ---- exact bytes -------------------------------------------------------------

TEST(LnkFile, HeaderBytes) {
  struct Case {
    const char* what;
    bool exists;
    bool strings;
    std::string flags_attrs;
    std::string times_size;
    std::string icon_show_key = "00000000 01000000 0000";
    bool foreign = false;  // a target Windows cannot look at: no attributes, no LinkInfo
  };
  const std::string times = "0000 5af6 4cf5 d401 0000 5af6 4cf5 d401 0000 5af6 4cf5 d401 d2040000";
  const Case cases[] = {
      {"bare file", true, false, "83000000 20000000", times},
      {"all strings", true, true, "bf000000 20000000", times},
      {"missing target", false, false, "83000000 20000000", std::string(56, '0')},
      // Icon location (0x40) and run as administrator (0x2000); the icon's
      // index (a resource id, negative), minimized, Ctrl+Alt+K.
      {"every property", true, true, "ff200000 20000000", times, "feffffff 07000000 4b06"},
      {"target for another machine", false, false, "81000000 00000000", std::string(56, '0'),
       "00000000 01000000 0000", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkData d = MakeData({u"a.txt"}, false);
    d.targetExists = c.exists;
    if (c.foreign) {
      d.targetAttributes = 0;
      d.location = LinkData::Location::kNone;
    }
    if (c.strings) {
      d.description = u"d";
      d.relativePath = u".\\a.txt";
      d.workingDirectory = u"Z:\\";
      d.arguments = u"-x";
    }
    if (c.icon_show_key != Case{}.icon_show_key) {
      d.iconLocation = u"%SystemRoot%\\system32\\shell32.dll";
      d.iconIndex = -2;
      d.showCommand = 7;
      d.hotKey = 0x064B;
      d.runAsAdministrator = true;
      Layout layout;
      ASSERT_TRUE(Walk(BuildLinkFile(d), layout));
      EXPECT_TRUE(layout.strings.back() == d.iconLocation);  // after the arguments
    }
    const std::string expected = Hex("4c000000 01140200 00000000 c0000000 00000046") + Hex(c.flags_attrs) +
                                 Hex(c.times_size) + Hex(c.icon_show_key) + Hex("0000 00000000 00000000");
    ASSERT_EQ(expected.size(), 0x4Cu);
    EXPECT_EQ(BuildLinkFile(d).substr(0, 0x4C), expected);
  }
}

TEST(LnkFile, RootAndDriveItemBytes) {
  LinkData d = MakeData({u"a.txt"}, false);
  d.drive = u'c';  // lower case is taken as the drive's letter
  const std::string b = BuildLinkFile(d);
  EXPECT_EQ(b.substr(0x4E, 20), Hex("1400 1f 50 e04fd020 ea3a 6910 a2d8 08002b30309d"));
  EXPECT_EQ(b.substr(0x4E + 20, 25), Hex("1900 2f 433a5c00") + std::string(18, '\0'));
}

// The item list alone, as IShellLink::SetIDList takes it, is the list the
// link holds, without the 16-bit size in front of it.
TEST(LnkFile, IdListAloneIsTheLinksList) {
  EXPECT_EQ(BuildIdList(u'c', {}), Hex("1400 1f 50 e04fd020 ea3a 6910 a2d8 08002b30309d 1900 2f 433a5c00") +
                                       std::string(18, '\0') + Hex("0000"));
  for (const auto& names : {std::vector<std::u16string>{}, {u"tmp", u"My Data", u"report.txt"}}) {
    const LinkData d = MakeData(names, false);
    const std::string b = BuildLinkFile(d), list = BuildIdList(d.drive, d.items);
    EXPECT_EQ(U16At(b, 0x4C), list.size());
    EXPECT_EQ(b.substr(0x4E, list.size()), list);
  }
  EXPECT_EQ(ThrownKind([] { BuildIdList(u'1', {}); }), LinkDataError::Kind::kInvalid);
  EXPECT_EQ(ThrownKind([] { BuildIdList(u'Z', std::vector<LinkItem>(300, LinkItem{std::u16string(100, u'x'), true})); }),
            LinkDataError::Kind::kTooLong);
}

TEST(LnkFile, FileEntryItemBytes) {
  struct Case {
    const char* what;
    LinkItem item;
    bool asFolder;
    std::string expected;
  };
  const Case cases[] = {
      {"folder, even name end",
       {u"tmp", true, 0, kTime, kTime, kTime, 0x10},
       true,
       Hex("3000 31 00 00000000 914e0095 1000 746d7000"
           "1e00 0300 0400efbe 914e0095 914e0095 1400 0000 74006d007000 0000 1200")},
      {"file, odd name end padded, FAT epoch and unset times",
       {u"ab.txt", false, 5, kTime, kFatEpoch, 0, 0x21},
       false,
       Hex("3a00 32 00 05000000 914e0095 2100 61622e74787400 00"
           "2400 0300 0400efbe 21000000 00000000 1400 0000 610062002e00740078007400 0000 1600")},
      {"a file on the way is typed as a folder",
       {u"ab.txt", false, 5, kTime, kFatEpoch, 0, 0x21},
       true,
       Hex("3a00 31 00 00000000 914e0095 3100 61622e74787400 00"
           "2400 0300 0400efbe 21000000 00000000 1400 0000 610062002e00740078007400 0000 1600")},
      {"non-ASCII name: Windows-1252 primary name, UTF-16 long name",
       {u"\u00e9\u4e2d", false, 0, 0, 0, 0, 0x20},
       false,
       Hex("2e00 32 00 00000000 00000000 2000 e93f00 00"
           "1c00 0300 0400efbe 00000000 00000000 1400 0000 e9002d4e 0000 1200")},
      // A target Windows cannot look at: no size or times, the folder bit
      // alone, and a file without any attribute, as Windows writes them.
      {"folder for another machine",
       {u"Tools", true, 0, 0, 0, 0, 0x10},
       true,
       Hex("3600 31 00 00000000 00000000 1000 546f6f6c7300"
           "2200 0300 0400efbe 00000000 00000000 1400 0000 54006f006f006c007300 0000 1400")},
      {"file for another machine: no archive bit added",
       {u"run.exe", false, 0, 0, 0, 0, 0},
       false,
       Hex("3c00 32 00 00000000 00000000 0000 72756e2e65786500"
           "2600 0300 0400efbe 00000000 00000000 1400 0000 720075006e002e00650078006500 0000 1600")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(BuildFileEntryItem(c.item, c.asFolder), c.expected);
  }
}

TEST(LnkFile, DosDateTime) {
  struct Case {
    std::uint64_t filetime;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {0, 0},
      {kFatEpoch - kSecond, 0},                      // 1979-12-31 23:59:59
      {kFatEpoch, 0x00000021},                       // 1980-01-01 00:00:00
      {kFatEpoch + 1 * kSecond, 0x00000021},         // odd seconds round down
      {kFatEpoch + 3 * kSecond, 0x00010021},
      {kTime, 0x95004E91},                           // 2019-04-17 18:40:00
      {kTime + 19199 * kSecond, 0xBF7D4E91},         // 23:59:59 of the same day
      {kFatEpoch + 59 * 86400 * kSecond, 0x0000005D},  // 1980-02-29, leap day
      {kFatEpoch + 4039286399ull * kSecond, 0xBF7DFF9F},  // 2107-12-31 23:59:59, the last
      {kFatEpoch + 4039286400ull * kSecond, 0},           // 2108: past what FAT holds
      {~0ull, 0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ToDosDateTime(cases[i].filetime), cases[i].expected) << "row " << i;
  }
}

TEST(LnkFile, Windows1252) {
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {
      {u"", ""},
      {u"Report 1.txt", "Report 1.txt"},
      {u"caf\u00e9", "caf\xe9"},
      {u"\u20ac5", "\x80" "5"},
      {u"\u0178\u00ff\u00a0", "\x9f\xff\xa0"},
      {u"\u4e2d.txt", "?.txt"},
      {u"a\U0001F600b", "a??b"},        // one '?' per UTF-16 unit
      {u"\xD800x\xDC00", "?x?"},         // lone surrogates
      {u"\u0080\u0081\u0142", "?\x81?"},  // C1 control where 1252 has a letter; undefined byte kept
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToWindows1252(c.in), c.out) << ::testing::PrintToString(c.out);
  }
}

// A link to a file on a network share: the share's name in upper case, the
// path below it as it is, no VolumeID; for text that is not plain ASCII
// the longer headers and the Unicode copies, each on an even offset.
TEST(LnkFile, NetworkLinkInfoBytes) {
  struct Case {
    const char* what;
    std::u16string net, suffix;
    std::string expected;
  };
  const Case cases[] = {
      {"ASCII", u"\\\\server\\share", u"Docs\\Report.txt",
       Hex("4f000000 1c000000 02000000 00000000 00000000 1c000000 3f000000"
           "23000000 02000000 14000000 00000000 00000200") +
           Nul("\\\\SERVER\\SHARE") + Nul("Docs\\Report.txt")},
      {"the share itself", u"\\\\nas\\Public", u"",
       Hex("3e000000 1c000000 02000000 00000000 00000000 1c000000 3d000000"
           "21000000 02000000 14000000 00000000 00000200") +
           Nul("\\\\NAS\\PUBLIC") + Nul("")},
      {"Windows-1252, the share's Unicode name padded", u"\\\\fs\\qualit\u00e9", u"B\u00fcro\\Plan.txt",
       Hex("92000000 24000000 02000000 00000000 00000000 24000000 68000000 00000000 76000000"
           "44000000 02000000 1c000000 00000000 00000200 2a000000 00000000") +
           Nul("\\\\FS\\QUALIT\xc9") + '\0' + Utf16Nul(u"\\\\FS\\QUALIT\u00c9") + Nul("B\xfcro\\Plan.txt") +
           Utf16Nul(u"B\u00fcro\\Plan.txt")},
      {"Cyrillic, the Unicode suffix padded",
       u"\\\\\u0441\u0435\u0440\u0432\u0435\u0440\\\u043e\u0431\u043c\u0435\u043d",
       u"\u041e\u0442\u0447\u0451\u0442\u044b.txt",
       Hex("90000000 24000000 02000000 00000000 00000000 24000000 6e000000 00000000 7a000000"
           "4a000000 02000000 1c000000 00000000 00000200 2c000000 00000000") +
           Nul("\\\\??????\\?????") + '\0' +
           Utf16Nul(u"\\\\\u0421\u0415\u0420\u0412\u0415\u0420\\\u041e\u0411\u041c\u0415\u041d") +
           Nul("??????.txt") + '\0' + Utf16Nul(u"\u041e\u0442\u0447\u0451\u0442\u044b.txt")},
      {"ASCII share, a suffix that is not", u"\\\\nas\\x", u"\u00e9",
       Hex("5e000000 24000000 02000000 00000000 00000000 24000000 58000000 00000000 5a000000"
           "34000000 02000000 1c000000 00000000 00000200 24000000 00000000") +
           Nul("\\\\NAS\\X") + Utf16Nul(u"\\\\NAS\\X") + Nul("\xe9") + Utf16Nul(u"\u00e9")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkData d;
    d.idList = false;
    d.location = LinkData::Location::kNetwork;
    d.netName = platform::UpperCase(c.net);
    d.pathSuffix = c.suffix;
    const std::string b = BuildLinkFile(d);
    Layout layout;
    ASSERT_TRUE(Walk(b, layout));
    EXPECT_EQ(layout.flags, 0x82u);
    EXPECT_EQ(b.substr(0x4C, b.size() - 0x4C - 4), c.expected);
  }
}

// ---- structure ---------------------------------------------------------------

TEST(LnkFile, SizesAndPartsAgree) {
  struct Case {
    const char* what;
    std::vector<std::u16string> names;
    bool folder;
    bool strings;
    bool way_typed_as_files = false;  // the caller says every component is a file
  };
  const Case cases[] = {
      {"file three deep", {u"tmp", u"data", u"report.txt"}, false, false},
      {"folder target", {u"tmp", u"data"}, true, true},
      {"drive root", {}, true, false},
      {"odd and even names", {u"a", u"bb", u"ccc", u"dddd.e"}, false, true},
      {"non-ASCII", {u"caf\u00e9", u"\u4e2d\U0001F600.txt"}, false, true},
      {"folders on the way typed as files", {u"tmp", u"data", u"report.txt"}, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkData d = MakeData(c.names, c.folder);
    if (c.way_typed_as_files) {
      for (LinkItem& item : d.items) item.isFolder = false;
    }
    if (c.strings) {
      d.description = u"desc";
      d.relativePath = u"..\\x";
      d.workingDirectory = u"Z:\\tmp";
      d.arguments = u"\"quoted\" args";
    }
    const std::string b = BuildLinkFile(d);
    Layout layout;
    ASSERT_TRUE(Walk(b, layout));
    ASSERT_EQ(layout.items.size(), 2 + c.names.size());
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      const std::string& item = layout.items[2 + i];
      const bool last = i + 1 == c.names.size();
      EXPECT_EQ(static_cast<unsigned char>(item[2]), (!last || c.folder) ? 0x31 : 0x32) << i;
      // The offset at the item's end names the extension block, which fills
      // the rest of the item exactly.
      const std::size_t block = U16At(item, item.size() - 2);
      EXPECT_EQ(block % 2, 0u);
      EXPECT_EQ(block + U16At(item, block), item.size()) << i;
      EXPECT_EQ(U32At(item, block + 4), 0xBEEF0004u);
    }
    if (c.strings) {
      const std::vector<std::u16string> expected = {d.description, d.relativePath, d.workingDirectory, d.arguments};
      EXPECT_EQ(layout.strings, expected);
    } else {
      EXPECT_TRUE(layout.strings.empty());
    }
  }
}

// The LinkInfo's local path is single-byte text that every reader decodes
// in its own code page: only a path of plain ASCII gets one.  Without it the
// item list, the relative path and the working directory are all there.
TEST(LnkFile, LinkInfoOnlyForAsciiPaths) {
  struct Case {
    std::u16string name;
    bool linkInfo;
  };
  const Case cases[] = {
      {u"plain.txt", true},       {u"~$ !#{}.txt", true},  {u"\x7f.txt", true},
      {u"caf\u00e9.txt", false}, {u"\u0444.txt", false}, {u"\u4e2d.txt", false},
      {u"\U0001F600", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(ToWindows1252(c.name)));
    LinkData d = MakeData({u"dir", c.name}, false);
    d.volumeLabel = u"";
    d.relativePath = u".\\" + c.name;
    d.workingDirectory = u"Z:\\dir\\";
    const std::string b = BuildLinkFile(d);
    Layout layout;
    ASSERT_TRUE(Walk(b, layout));
    EXPECT_EQ(layout.flags, c.linkInfo ? 0x9Bu : 0x99u);
    EXPECT_EQ(layout.items.size(), 4u);
    EXPECT_EQ(layout.strings, (std::vector<std::u16string>{d.relativePath, d.workingDirectory}));
    if (!c.linkInfo) {
      EXPECT_EQ(layout.link_info, 0u);
      continue;
    }
    const std::size_t li = layout.link_info;
    EXPECT_EQ(U32At(b, li + 4), 0x1Cu);  // the short header, no Unicode offsets
    EXPECT_EQ(U32At(b, li + 8), 1u);     // volume and local path
    // VolumeID: fixed drive, the serial, an empty label.
    EXPECT_EQ(b.substr(li + 0x1C, 17), Hex("11000000 03000000 78563412 10000000 00"));
    const std::string ansi = "Z:\\dir\\" + ToWindows1252(c.name);
    EXPECT_EQ(b.substr(li + U32At(b, li + 16), ansi.size() + 1), ansi + '\0');
    EXPECT_EQ(b.at(li + U32At(b, li + 24)), '\0');  // empty common suffix
    EXPECT_EQ(li + U32At(b, li + 24) + 1, li + U32At(b, li));
  }
}

// The target and the icon location with %VARIABLES%: one block each after
// the strings, the target's first; the text single-byte ('?' for what
// Windows-1252 lacks) and UTF-16, each zero-filled to MAX_PATH.
std::string EnvironmentBlock(const char* signature, const std::string& ansi, std::u16string_view text) {
  const std::string unicode = Utf16Nul(text);
  return Hex("14030000") + Hex(signature) + ansi + std::string(260 - ansi.size(), '\0') + unicode +
         std::string(520 - unicode.size(), '\0');
}

// What tells a reader where the target is besides the item list, the
// flags and the extra data blocks: each form walks, with exactly the parts
// its flags name.
TEST(LnkFile, LocationsAndFlags) {
  constexpr auto kLocal = LinkData::Location::kLocal, kNone = LinkData::Location::kNone,
                 kNetwork = LinkData::Location::kNetwork;
  struct Case {
    const char* what;
    LinkData::Location location;
    bool idList, forceNoLinkInfo, preferEnvironmentPath;
    std::u16string target, icon;  // with variables
    std::uint32_t flags;
    std::size_t items;
    std::uint32_t link_info;  // its LinkInfoFlags, 0 for none
    std::string blocks;       // the extra data blocks before the terminal one, exactly
  };
  const std::u16string exe = u"%windir%\\a.exe", dll = u"%windir%\\a.dll", longest(259, u'x');
  const std::string exeBlock = EnvironmentBlock("010000a0", "%windir%\\a.exe", exe);
  const Case cases[] = {
      {"local", kLocal, true, false, false, u"", u"", 0x83, 4, 1, ""},
      {"none", kNone, true, false, false, u"", u"", 0x81, 4, 0, ""},
      {"none, ForceNoLinkInfo", kNone, true, true, false, u"", u"", 0x181, 4, 0, ""},
      {"none, PreferEnvironmentPath", kNone, true, false, true, u"", u"", 0x02000081, 4, 0, ""},
      {"neither item list nor LinkInfo", kNone, false, false, false, u"", u"", 0x80, 0, 0, ""},
      {"network, no item list", kNetwork, false, false, false, u"", u"", 0x82, 0, 2, ""},
      {"network and the item list", kNetwork, true, false, false, u"", u"", 0x83, 4, 2, ""},
      {"the environment block alone", kNone, false, true, true, exe, u"", 0x02000380, 0, 0, exeBlock},
      {"the icon's block", kNone, true, false, false, u"", dll, 0x40c1, 4, 0,
       EnvironmentBlock("070000a0", "%windir%\\a.dll", dll)},
      {"local, both blocks", kLocal, true, false, false, exe, dll, 0x42C3, 4, 1,
       exeBlock + EnvironmentBlock("070000a0", "%windir%\\a.dll", dll)},
      {"both, beyond Windows-1252", kNone, true, false, false, u"%USERPROFILE%\\\u6587\\\u00e9.txt",
       u"%APPDATA%\\\U0001F600.ico", 0x42c1, 4, 0,
       EnvironmentBlock("010000a0", "%USERPROFILE%\\?\\\xe9.txt", u"%USERPROFILE%\\\u6587\\\u00e9.txt") +
           EnvironmentBlock("070000a0", "%APPDATA%\\??.ico", u"%APPDATA%\\\U0001F600.ico")},
      {"the longest that fit", kNone, true, false, false, longest, longest, 0x42c1, 4, 0,
       EnvironmentBlock("010000a0", std::string(259, 'x'), longest) +
           EnvironmentBlock("070000a0", std::string(259, 'x'), longest)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkData d = MakeData({u"dir", u"a.txt"}, false);
    d.location = c.location;
    d.netName = u"\\\\srv\\s";
    d.idList = c.idList;
    d.forceNoLinkInfo = c.forceNoLinkInfo;
    d.preferEnvironmentPath = c.preferEnvironmentPath;
    d.environmentTarget = c.target;
    d.environmentIcon = c.icon;
    if (!c.icon.empty()) d.iconLocation = u"C:\\Windows\\a.dll";
    const std::string b = BuildLinkFile(d);
    Link read;  // the reader splits the file into the builder's sections
    ASSERT_EQ(ReadLink(b, read), ReadStatus::kLink);
    EXPECT_TRUE(read == BuildLink(d));
    Layout layout;
    ASSERT_TRUE(Walk(b, layout));
    EXPECT_EQ(layout.flags, c.flags);
    EXPECT_EQ(layout.items.size(), c.items);
    EXPECT_EQ(layout.link_info ? U32At(b, layout.link_info + 8) : 0u, c.link_info);
    const std::string tail = c.blocks + Hex("00000000");
    ASSERT_GT(b.size(), tail.size());
    EXPECT_EQ(b.substr(b.size() - tail.size()), tail);
  }
}

// A link to a path of plain ASCII keeps, byte for byte, what the writer
// has always written (all fields set, a volume label).
TEST(LnkFile, AsciiLinkBytesUnchanged) {
  LinkData d = MakeData({u"tmp", u"My Data", u"report.txt"}, false);
  d.relativePath = u"..\\tmp\\My Data\\report.txt";
  d.workingDirectory = u"Z:\\tmp\\My Data\\";
  d.description = u"d";
  d.arguments = u"-x";
  EXPECT_EQ(BuildLinkFile(d), Hex(
      "4c0000000114020000000000c000000000000046bf0000002000000000005af6"
      "4cf5d40100005af64cf5d40100005af64cf5d401d20400000000000001000000"
      "000000000000000000000000e10014001f50e04fd020ea3a6910a2d808002b30"
      "309d19002f5a3a5c000000000000000000000000000000000000003000310000"
      "000000914e00951000746d70001e0003000400efbe914e0095914e0095140000"
      "0074006d007000000012003c00310000000000914e009510004d792044617461"
      "00260003000400efbe914e0095914e0095140000004d00790020004400610074"
      "0061000000160046003200d2040000914e009520007265706f72742e74787400"
      "002c0003000400efbe914e0095914e0095140000007200650070006f00720074"
      "002e0074007800740000001a0000004c0000001c000000010000001c00000031"
      "000000000000004b00000015000000030000007856341210000000726f6f7400"
      "5a3a5c746d705c4d7920446174615c7265706f72742e74787400000100640019"
      "002e002e005c0074006d0070005c004d007900200044006100740061005c0072"
      "00650070006f00720074002e007400780074000f005a003a005c0074006d0070"
      "005c004d007900200044006100740061005c0002002d00780000000000"));
}

// The property store block comes first among the extra data blocks, as
// Windows 10 writes it; the file-level functions find it there, and put it
// in or take it out of a file without touching another byte.
TEST(LnkFile, PropertyStoreBlock) {
  LinkData d = MakeData({u"tmp", u"report.txt"}, false);
  d.description = u"d";
  d.environmentTarget = u"%TEMP%\\report.txt";
  const std::string without = BuildLinkFile(d);
  d.propertyStore = NewStringPropertyStore(kAppUserModelFormat, kAppUserModelId, u"A.B");
  const std::string with = BuildLinkFile(d);
  const std::string block = PropertyStoreBlock(d.propertyStore);
  const StoreBlockPlace place = FindPropertyStoreBlock(with);
  EXPECT_EQ(place.error, "");
  EXPECT_EQ(with.substr(place.at, place.size), block);
  EXPECT_EQ(U32At(with, place.at + block.size() + 4), 0xA0000001u);  // the variables' block after it
  EXPECT_EQ(with.substr(0, place.at) + with.substr(place.at + place.size), without);
  const StoreBlockPlace none = FindPropertyStoreBlock(without);
  EXPECT_EQ(none.error, "");
  EXPECT_EQ(none.at, place.at);
  EXPECT_EQ(none.size, 0u);
  EXPECT_EQ(WithPropertyStore(without, none, d.propertyStore), with);
  EXPECT_EQ(WithPropertyStore(with, place, ""), without);
  // A file cut anywhere is refused or followed within its bytes.
  for (std::size_t n = 0; n < with.size(); ++n) {
    const StoreBlockPlace cut = FindPropertyStoreBlock(with.substr(0, n));
    if (cut.error.empty()) {
      EXPECT_LE(cut.at + cut.size, n) << n;
    }
  }
  EXPECT_EQ(FindPropertyStoreBlock(with.substr(0, 0x4B)).error, "no shell link header");
  EXPECT_EQ(FindPropertyStoreBlock(with.substr(0, place.at - 1)).error, "the link's parts run past its end");
  EXPECT_EQ(FindPropertyStoreBlock(with.substr(0, place.at + 7)).error, "an extra data block runs past the link's end");
}

// Windows stores a drive letter in upper case, however it was typed.
TEST(LnkFile, DriveLettersInUpperCase) {
  LinkData upper = MakeData({u"dir", u"x.txt"}, false);
  upper.workingDirectory = u"Z:\\dir\\";
  LinkData lower = upper;
  lower.targetPath[0] = lower.workingDirectory[0] = lower.drive = u'z';
  EXPECT_EQ(BuildLinkFile(lower), BuildLinkFile(upper));
}

TEST(LnkFile, FolderTargetDropsTrailingBackslashButRootKeepsIt) {
  struct Case {
    LinkData data;
    std::string stored;
  };
  LinkData folder = MakeData({u"tmp", u"data"}, true);
  folder.targetPath += u"\\";
  LinkData root = MakeData({}, true);
  const Case cases[] = {{folder, "Z:\\tmp\\data"}, {root, "Z:\\"}};
  for (const Case& c : cases) {
    const std::string b = BuildLinkFile(c.data);
    Layout layout;
    ASSERT_TRUE(Walk(b, layout));
    EXPECT_EQ(b.substr(layout.link_info + U32At(b, layout.link_info + 16), c.stored.size() + 1), c.stored + '\0');
  }
}

TEST(LnkFile, RefusesWhatCannotBeStored) {
  struct Case {
    const char* what;
    void (*spoil)(LinkData&);
    bool length;  // too long, else invalid
  };
  const Case cases[] = {
      {"drive not a letter", [](LinkData& d) { d.drive = u'1'; }, false},
      {"NUL in a name", [](LinkData& d) { d.items[0].name = std::u16string(u"a\0b", 3); }, false},
      {"NUL in the path", [](LinkData& d) { d.targetPath += std::u16string(1, u'\0'); }, false},
      {"empty component", [](LinkData& d) { d.items[0].name.clear(); }, false},
      {"name past the item size", [](LinkData& d) { d.items[0].name.assign(22000, u'x'); }, true},
      {"path past the list size",
       [](LinkData& d) { d.items.assign(300, LinkItem{std::u16string(100, u'x'), true}); }, true},
      {"arguments past their count", [](LinkData& d) { d.arguments.assign(65536, u'a'); }, true},
      {"description past its count", [](LinkData& d) { d.description.assign(70000, u'a'); }, true},
      {"target with variables past MAX_PATH", [](LinkData& d) { d.environmentTarget.assign(260, u'a'); }, true},
      {"icon with variables past MAX_PATH", [](LinkData& d) { d.environmentIcon.assign(260, u'a'); }, true},
      {"NUL in the target with variables", [](LinkData& d) { d.environmentTarget.assign(1, u'\0'); }, false},
      {"network link without a share", [](LinkData& d) { d.location = LinkData::Location::kNetwork; }, false},
      {"NUL in the share",
       [](LinkData& d) { d.location = LinkData::Location::kNetwork; d.netName = std::u16string(u"\\\\s\0\\t", 6); },
       false},
      {"NUL in the path below the share",
       [](LinkData& d) { d.location = LinkData::Location::kNetwork; d.netName = u"\\\\s\\t"; d.pathSuffix.assign(1, u'\0'); },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkData d = MakeData({u"tmp", u"a.txt"}, false);
    c.spoil(d);
    EXPECT_EQ(ThrownKind([&d] { BuildLinkFile(d); }),
              c.length ? LinkDataError::Kind::kTooLong : LinkDataError::Kind::kInvalid);
  }
  // The largest counted string that fits is still written.
  LinkData d = MakeData({u"a.txt"}, false);
  d.arguments.assign(65535, u'a');
  Layout layout;
  EXPECT_TRUE(Walk(BuildLinkFile(d), layout));
}

// ---- independent parsers -----------------------------------------------------
//
// The links are read back by liblnk/libfwsi (python3-liblnk, python3-libfwsi
// and lnkinfo) through tests/e2e/lnkcheck.py, which compares what they read
// with the expectations it is given as JSON.  They run natively.

#ifndef _WIN32

// A JSON string; every character outside printable ASCII as a \u escape of
// its UTF-16 unit, which JSON reads back as the same units.
std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\') {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

class LnkOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/bin/lnkinfo") && std::getenv("CI") == nullptr) {
      GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
    }
    script_ = std::filesystem::path(__FILE__).parent_path() / "../e2e/lnkcheck.py";
    ASSERT_TRUE(std::filesystem::exists(script_)) << script_;
    dir_ = std::filesystem::temp_directory_path() /
           ("builder_test." + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "." +
            std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  // Writes the bytes to a file and runs the checker on it with the expected
  // fields (a JSON object); its exit status, and what it printed in `report`.
  int Check(const std::string& bytes, const std::string& expected, std::string& report) {
    const auto file = dir_ / ("link" + std::to_string(++count_) + ".lnk");
    std::ofstream(file, std::ios::binary) << bytes;
    const auto expect = dir_ / "expect.json";
    std::ofstream(expect, std::ios::binary) << expected;
    const auto out = dir_ / "out.json";
    const std::string command = "/usr/bin/python3 '" + script_.string() + "' '" + file.string() + "' --expect '" +
                                expect.string() + "' > '" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(out, std::ios::binary);
    report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path script_, dir_;
  int count_ = 0;
};

std::string JsonOrNull(std::u16string_view text) { return text.empty() ? "null" : JsonString(text); }

// Links for another machine: to a share, and with %VARIABLES% for a target
// Windows cannot look at.
void ToShare(LinkData& d, std::u16string net, std::u16string suffix) {
  d.location = LinkData::Location::kNetwork;
  d.idList = false;
  d.workingDirectory = net;
  d.environmentTarget = net + u"\\" + suffix;
  d.netName = platform::UpperCase(net);
  d.pathSuffix = std::move(suffix);
}
void WithVariables(LinkData& d) {
  d.location = LinkData::Location::kNone;
  d.targetExists = false;
  d.targetAttributes = 0;
  for (LinkItem& item : d.items) item = {item.name, item.isFolder, 0, 0, 0, 0, item.isFolder ? 0x10u : 0u};
  d.environmentTarget = u"%PUBLIC%\\run.exe";
  d.iconLocation = u"C:\\Windows\\a.dll";
  d.environmentIcon = u"%SystemRoot%\\a.dll";
}

TEST_F(LnkOracle, ParsersReadWhatWasWritten) {
  struct Case {
    const char* what;
    std::vector<std::u16string> names;
    bool folder;
    bool strings;
    void (*form)(LinkData&) = nullptr;
    const char16_t* network_path = u"";
  };
  const Case cases[] = {
      {"file three deep, no strings", {u"tmp", u"data", u"report.txt"}, false, false},
      {"file three deep, all strings", {u"tmp", u"data", u"report.txt"}, false, true},
      {"folder target", {u"tmp", u"My Data"}, true, false},
      {"folder target, strings", {u"tmp", u"My Data"}, true, true},
      {"drive root", {}, true, false},
      {"\u00e9, CJK and emoji", {u"caf\u00e9", u"\u4e2d\u6587", u"x \U0001F600 \u00e9\u4e2d.txt"}, false, true},
      {"\u00e9, CJK and emoji, no strings", {u"caf\u00e9 \u4e2d", u"\U0001F600"}, true, false},
      {"on a share", {u"Docs", u"a.txt"}, false, false,
       [](LinkData& d) { ToShare(d, u"\\\\server\\share", u"Docs\\a.txt"); }, u"\\\\SERVER\\SHARE\\Docs\\a.txt"},
      {"on a share, Cyrillic", {u"a.txt"}, false, false,
       [](LinkData& d) { ToShare(d, u"\\\\\u0441\u0435\u0440\u0432\u0435\u0440\\x", u"\u043f\u043b\u0430\u043d.txt"); },
       u"\\\\\u0421\u0415\u0420\u0412\u0415\u0420\\X\\\u043f\u043b\u0430\u043d.txt"},
      {"with variables", {u"Users", u"Public", u"run.exe"}, false, false, WithVariables},
      // The property store stands first among the blocks, so the readers
      // must step over it to the variables.
      {"with variables and an AppUserModelID", {u"Users", u"Public", u"run.exe"}, false, true,
       [](LinkData& d) {
         WithVariables(d);
         d.propertyStore = NewStringPropertyStore(kAppUserModelFormat, kAppUserModelId, u"Company.App");
       }},
      {"with variables, nothing else", {u"Users", u"Public", u"run.exe"}, false, false,
       [](LinkData& d) {
         WithVariables(d);
         d.idList = false;
         d.forceNoLinkInfo = d.preferEnvironmentPath = true;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkData d = MakeData(c.names, c.folder);
    if (c.folder && !c.names.empty()) d.targetPath += u"\\";  // as the Shell is handed a folder
    if (c.strings) {
      d.description = u"A \"description\" \u00e9";
      d.relativePath = u".\\" + (c.names.empty() ? std::u16string() : c.names.back());
      d.workingDirectory = u"Z:\\tmp";
      d.arguments = u"/x \"a b\" \u4e2d";
    }
    if (c.form) c.form(d);
    std::u16string path = d.targetPath;
    if (path.size() > 3 && path.back() == u'\\') path.pop_back();
    const bool local = d.location == LinkData::Location::kLocal &&
                       std::all_of(path.begin(), path.end(), [](char16_t ch) { return ch < 0x80; });
    std::string expected = "{\"lnkinfo_status\": 0, \"local_base_path\": " + (local ? JsonString(path) : "null") +
                           ", \"network_path\": " + JsonOrNull(c.network_path) +
                           ", \"environment_variables_location\": " + JsonOrNull(d.environmentTarget) +
                           ", \"icon_location\": " + JsonOrNull(d.environmentIcon.empty() ? d.iconLocation : d.environmentIcon) +
                           ", \"file_size\": " + std::to_string(d.targetExists ? d.targetSize : 0) +
                           ", \"file_attribute_flags\": " + std::to_string(d.targetAttributes) +
                           ", \"modification_time\": " + std::to_string(d.targetExists ? kTime : 0) +
                           (local ? ", \"drive_serial_number\": " + std::to_string(0x12345678) +
                                        ", \"volume_label\": \"root\""
                                  // liblnk answers 0 for a LinkInfo without a VolumeID
                                  : std::string(", \"drive_serial_number\": ") + (c.network_path[0] ? "0" : "null") +
                                        ", \"volume_label\": null");
    const std::pair<const char*, const std::u16string*> strings[] = {
        {"description", &d.description},
        {"relative_path", &d.relativePath},
        {"working_directory", &d.workingDirectory},
        {"command_line_arguments", &d.arguments}};
    for (const auto& [key, value] : strings) expected += std::string(", \"") + key + "\": " + JsonOrNull(*value);
    expected += std::string(", \"app_id\": ") + (d.propertyStore.empty() ? "null" : "\"Company.App\"");
    expected += ", \"items\": [";
    if (d.idList) {
      expected += "{\"kind\": \"root\", \"class_type\": 31, \"name\": \"20d04fe0-3aea-1069-a2d8-08002b30309d\"}, "
                  "{\"kind\": \"volume\", \"class_type\": 47, \"name\": \"Z:\\\\\"}";
      for (std::size_t i = 0; i < c.names.size(); ++i) {
        const bool folder = c.folder || i + 1 < c.names.size();
        expected += std::string(", {\"kind\": ") +
                    (folder ? "\"folder\", \"class_type\": 49" : "\"file\", \"class_type\": 50") +
                    ", \"name\": " + JsonString(c.names[i]) + ", \"file_size\": " +
                    (folder || !d.targetExists ? "0" : "1234") + "}";
      }
    }
    expected += "]}";
    std::string report;
    EXPECT_EQ(Check(BuildLinkFile(d), expected, report), 0) << report;
  }
}

TEST_F(LnkOracle, CheckerCatchesAnExtensionBlockSizeOffByTwo) {
  // The checker must fail on the fault Windows rejects, or the test above
  // proves little.
  const LinkData d = MakeData({u"tmp", u"report.txt"}, false);
  std::string b = BuildLinkFile(d);
  Layout layout;
  ASSERT_TRUE(Walk(b, layout));
  const std::size_t item_at = 0x4C + 2 + 20 + 25;  // first file-system item
  const std::size_t block_at = item_at + U16At(b, item_at + U16At(b, item_at) - 2);
  b[block_at] = static_cast<char>(b[block_at] + 2);
  std::string report;
  EXPECT_NE(Check(b, "{}", report), 0);
  EXPECT_EQ(report.find("\"errors\": []"), std::string::npos) << report;
}

#endif

}  // namespace
}  // namespace lnk
