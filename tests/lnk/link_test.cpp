#include "lnk/link.h"

#include <gtest/gtest.h>

#include "support/hex.h"

#include <string>
#include <vector>


namespace lnk {
namespace {

using testsupport::Hex;

// A header with these flags (hex, stored order), icon index 2, show
// command 7, hot key Ctrl+Alt+K.
std::string HeaderWith(const char* flags) {
  return Hex("4c000000 01140200 00000000 c0000000 00000046") + Hex(flags) +
         Hex("20000000 0100000000000000 0200000000000000 0300000000000000 05000000") +
         Hex("02000000 07000000 4b06 0000 00000000 00000000");
}

// The sizes of a link's sections: item list, LinkInfo, the five strings,
// each block, terminal, trailing.
std::string Shape(const Link& l) {
  std::string s = std::to_string(l.header.bytes.size()) + " " + std::to_string(l.idList.size()) + " " +
                  std::to_string(l.linkInfo.size()) + " [";
  for (const CountedString& c : l.strings) s += std::to_string(c.bytes.size()) + (c.stored() ? "+" : "") + " ";
  s += "] {";
  for (const ExtraBlock& b : l.blocks) s += std::to_string(b.bytes.size()) + " ";
  return s + "} " + std::to_string(l.terminal.size()) + " " + std::to_string(l.trailing.size());
}

std::string Warnings(const Link& l) {
  std::string s;
  for (const std::string& w : l.warnings) s += w + ";";
  return s;
}

// ---- the splitter: every byte in one section, damage kept -------------------

TEST(LinkSplit, Sections) {
  const std::string list = Hex("0600 0200 aa00 0000");  // size 6: one item of 2+2 bytes, then 0000
  const std::string info = Hex("08000000 11223344");
  const std::string ansi = Hex("0300 616263");                // "abc"
  const std::string wide = Hex("0300 7800 0000 7900");        // "x", NUL, "y": Windows reads "x"
  const std::string block = Hex("0c000000 030000a0 deadbeef");  // a tracker block, 12 bytes
  const std::string unknown = Hex("08000000 78563412");
  const std::string end = Hex("00000000");
  struct Case {
    const char* what;
    std::string bytes;
    const char* shape;
    const char* warnings;
  };
  const Case cases[] = {
      {"header only, no terminal", HeaderWith("00000000"), "76 0 0 [0 0 0 0 0 ] {} 0 0",
       "the file ends without its terminal block;"},
      {"every section, trailing bytes", HeaderWith("ff000000") + list + info + wide + wide + wide + wide + wide + block +
                                            unknown + end + "zz",
       "76 8 8 [8+ 8+ 8+ 8+ 8+ ] {12 8 } 4 2", ""},
      {"single-byte strings", HeaderWith("24000000") + ansi + ansi + end, "76 0 0 [5+ 0 0 5+ 0 ] {} 4 0", ""},
      {"terminal value 3 ends the blocks", HeaderWith("00000000") + Hex("03000000") + block, "76 0 0 [0 0 0 0 0 ] {} 4 12",
       ""},
      {"header cut short", HeaderWith("00000000").substr(0, 40), "40 0 0 [0 0 0 0 0 ] {} 0 0",
       "the header is cut short by the end of the file;"},
      {"item list size past the end", HeaderWith("01000000") + Hex("ff00 0000"), "76 4 0 [0 0 0 0 0 ] {} 0 0",
       "the item list is cut short by the end of the file;"},
      {"item list size field cut", HeaderWith("01000000") + Hex("06"), "76 1 0 [0 0 0 0 0 ] {} 0 0",
       "the item list is cut short by the end of the file;"},
      {"LinkInfo size smaller than its field", HeaderWith("02000000") + Hex("02000000") + end,
       "76 0 4 [0 0 0 0 0 ] {} 4 0", "the LinkInfo has a size smaller than its own size field;"},
      {"LinkInfo of 4 GB", HeaderWith("02000000") + Hex("ffffffff 00"), "76 0 5 [0 0 0 0 0 ] {} 0 0",
       "the LinkInfo is cut short by the end of the file;"},
      {"string count past the end", HeaderWith("a0000000") + Hex("ffff 4100"), "76 0 0 [0 0 0 4+ 0 ] {} 0 0",
       "the arguments string is cut short by the end of the file;"},
      {"block of 4 GB", HeaderWith("00000000") + Hex("ffffffff 010000a0 41"), "76 0 0 [0 0 0 0 0 ] {9 } 0 0",
       "an extra data block is cut short by the end of the file;"},
      {"block too short for a signature", HeaderWith("00000000") + Hex("05000000 01") + end,
       "76 0 0 [0 0 0 0 0 ] {5 } 4 0", "an extra data block of 5 bytes is too short for a signature;"},
      {"terminal cut short", HeaderWith("00000000") + Hex("0000"), "76 0 0 [0 0 0 0 0 ] {} 2 0",
       "the terminal block is cut short by the end of the file;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Link link;
    ASSERT_EQ(ReadLink(c.bytes, link), ReadStatus::kLink);
    EXPECT_EQ(Shape(link), c.shape);
    EXPECT_EQ(Warnings(link), c.warnings);
    EXPECT_EQ(WriteLink(link), c.bytes);
  }
}

TEST(LinkSplit, FieldsAndText) {
  Link link;
  const std::string file = HeaderWith("a4000000") + Hex("0300 e9809f 0300 7800 0000 7900") + Hex("00000000");
  ASSERT_EQ(ReadLink(file, link), ReadStatus::kLink);
  EXPECT_EQ(link.header.linkFlags, 0xA4u);
  EXPECT_EQ(link.header.fileAttributes, 0x20u);
  EXPECT_EQ(link.header.creationTime, 1u);
  EXPECT_EQ(link.header.accessTime, 2u);
  EXPECT_EQ(link.header.writeTime, 3u);
  EXPECT_EQ(link.header.fileSize, 5u);
  EXPECT_EQ(link.header.iconIndex, 2);
  EXPECT_EQ(link.header.showCommand, 7u);
  EXPECT_EQ(link.header.hotKey, 0x064Bu);
  // Not Unicode (no 0x80): "é€\x9F" through Windows-1252 (0x9F is Ÿ)...
  ASSERT_EQ(ReadLink(HeaderWith("24000000") + Hex("0300 e9809f 0300 7800 00") + Hex("00000000"), link),
            ReadStatus::kLink);
  EXPECT_EQ(link.string(StringId::kDescription).text, u"\u00E9\u20AC\u0178");
  EXPECT_EQ(link.string(StringId::kArguments).text, u"x");  // cut at the NUL, as Windows reads it
  // ...and 0x81, which the code page leaves undefined, as U+0081.
  EXPECT_EQ(FromWindows1252("\x81\x41"), u"\u0081A");
}

TEST(LinkSplit, NotALink) {
  Link link;
  const std::string good = HeaderWith("00000000");
  std::string wrongSize = good, wrongClsid = good;
  wrongSize[0] = 0x4D;
  wrongClsid[19] = 0x47;
  for (const std::string& bytes : {std::string(), good.substr(0, 19), wrongSize, wrongClsid, std::string(100, '\0')}) {
    EXPECT_EQ(ReadLink(bytes, link), ReadStatus::kNotALink) << bytes.size();
  }
  EXPECT_EQ(ReadLink(good.substr(0, 20), link), ReadStatus::kLink);
}

// What an editor does: fields written back, a string replaced.
TEST(LinkSplit, HeaderFieldsAndStringsWrittenBack) {
  Link link;
  const std::string file = HeaderWith("a0000000") + Hex("0200 7800 7900") + Hex("00000000");
  ASSERT_EQ(ReadLink(file, link), ReadStatus::kLink);
  Header h = link.header;
  SetHeaderFields(h);
  EXPECT_EQ(h.bytes, link.header.bytes);  // nothing changed, nothing moved
  EXPECT_EQ(MakeCountedString(u"xy", true).bytes, link.string(StringId::kArguments).bytes);
  EXPECT_EQ(MakeCountedString(u"\u00E9\u0416", false).bytes, Hex("0200 e93f"));

  link.header.showCommand = 3;
  link.header.linkFlags |= kHasName;
  SetHeaderFields(link.header);
  link.string(StringId::kDescription) = MakeCountedString(u"d", true);
  Link again;
  ASSERT_EQ(ReadLink(WriteLink(link), again), ReadStatus::kLink);
  EXPECT_EQ(again.header.showCommand, 3u);
  EXPECT_EQ(again.string(StringId::kDescription).text, u"d");
  EXPECT_EQ(again.string(StringId::kArguments).text, u"xy");

  Header cut;
  cut.bytes = "\x4c";
  SetHeaderFields(cut);  // a header cut short is made whole
  ASSERT_EQ(ReadLink(cut.bytes, again), ReadStatus::kLink);
}

}  // namespace
}  // namespace lnk
