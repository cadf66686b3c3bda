#include "lnk/propstore.h"

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/hex.h"

#include <string>
#include <vector>

namespace lnk {
namespace {

using testsupport::Hex;
using testsupport::Utf8;

// The stores of three links Windows 10 made (the property store blocks'
// bytes after their size and signature), from the public test files of
// EricZimmerman/Lnk (MIT licence, Copyright (c) 2016 Eric):
// "ANTS Performance Profiler 9.lnk": one storage, PreventPinning then the ID.
const std::string kAnts = Hex(
    "6e0000003153505355284c9f799f394ba8d0e1d42de1d5f31100000009000000000b0000000000000041000000050000"
    "00001f0000001700000052006500640047006100740065002e0041006e0074007300500072006f00660069006c006500"
    "72002e003900000000000000000000000000");
// "10 - UserProfile.lnk": a storage of another format first, then the ID and InstalledBy.
const std::string kUserProfile = Hex(
    "2d00000031535053e28a5846bc4c3843bbfc139326986dce1100000000000000001300000000000000000000007a0000"
    "003153505355284c9f799f394ba8d0e1d42de1d5f34d00000005000000001f0000001e0000004d006900630072006f00"
    "73006f00660074002e00570069006e0064006f00770073002e005500730065007200500072006f00660069006c006500"
    "000011000000120000000013000000010000000000000000000000");
// "WinHex.lnk": four storages of the target's details, no ID.
const std::string kWinHex = Hex(
    "6900000031535053ed30bdda43008947a7f8d013a47366224d00000064000000001f0000001e000000770069006e0068"
    "00650078002000280044003a005c00440072006f00700062006f0078005c00210053006f006600740077006100720065"
    "002900000000000000ad0000003153505330f125b7ef471a10a5f102608c9eebac290000000a000000001f0000000b00"
    "0000570069006e004800650078002e0065007800650000000000150000000f00000000400000000027d933bf3ed10115"
    "0000000c000000001500000000f82300000000002900000004000000001f0000000c0000004100700070006c00690063"
    "006100740069006f006e000000150000000e000000004000000000740db89f26d101000000007d00000031535053a66a"
    "63283d95d211b5d600c04fd918d0610000001e000000001f0000002700000044003a005c00440072006f00700062006f"
    "0078005c00210053006f006600740077006100720065005c00770069006e006800650078005c00570069006e00480065"
    "0078002e0065007800650000000000000000003900000031535053b1166d44ad8d7048a748402ea43d788c1d00000068"
    "0000000048000000c72028760000000000001000000000000000000000000000");
// Made here: the string-named storage (one VT_I2 -2 named "x"), then an
// integer-named one with a VT_I8, a VT_BOOL true, a VT_UI1 and a VT_BLOB.
const std::string kMixed = Hex(
    "3100000031535053 05d5cdd59c2e1b10939708002b2cf9ae 15000000 04000000 00 78000000 0200 0000 feff0000 00000000"
    "6400000031535053 0102030405060708090a0b0c0d0e0f10"
    "15000000 01000000 00 1400 0000 ffffffffffffffff"
    "11000000 02000000 00 0b00 0000 ffff0000"
    "11000000 03000000 00 1100 0000 07000000"
    "11000000 04000000 00 4100 0000 00000000"
    "00000000 00000000");

// Each storage as "format", each property as "  id-or-name name type text".
std::vector<std::string> Listing(const PropertyStore& store) {
  std::vector<std::string> lines;
  for (const PropertyStorage& s : store.storages) {
    lines.push_back(FormatIdText(s.formatId));
    for (const StoredProperty& p : s.properties) {
      const char* name = PropertyName(s.formatId, p.id);
      lines.push_back("  " + (s.stringNamed ? Utf8(p.name) : std::to_string(p.id)) + " " + (name ? name : "-") +
                      " " + std::to_string(p.type) + " " + (p.hasText ? Utf8(p.text) : "(none)"));
    }
  }
  return lines;
}

TEST(PropertyStore, ReadsWindowsStoresAndNamesTheirProperties) {
  struct Case {
    const char* what;
    const std::string& bytes;
    std::vector<std::string> listing;
  };
  const Case cases[] = {
      {"ANTS", kAnts,
       {"{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}", "  9 System.AppUserModel.PreventPinning 11 false",
        "  5 System.AppUserModel.ID 31 RedGate.AntsProfiler.9"}},
      {"UserProfile", kUserProfile,
       {"{46588AE2-4CBC-4338-BBFC-139326986DCE}", "  0 - 19 0", "{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}",
        "  5 System.AppUserModel.ID 31 Microsoft.Windows.UserProfile", "  18 System.AppUserModel.InstalledBy 19 1"}},
      {"WinHex", kWinHex,
       {"{DABD30ED-0043-4789-A7F8-D013A4736622}", "  100 System.ItemFolderPathDisplayNarrow 31 winhex (D:\\Dropbox\\!Software)",
        "{B725F130-47EF-101A-A5F1-02608C9EEBAC}", "  10 System.ItemNameDisplay 31 WinHex.exe",
        "  15 System.DateCreated 64 2015-12-25T02:51:50Z", "  12 System.Size 21 2357248",
        "  4 System.ItemTypeText 31 Application", "  14 System.DateModified 64 2015-11-24T10:06:00Z",
        "{28636AA6-953D-11D2-B5D6-00C04FD918D0}", "  30 System.ParsingPath 31 D:\\Dropbox\\!Software\\winhex\\WinHex.exe",
        "{446D16B1-8DAD-4870-A748-402EA43D788C}", "  104 System.VolumeId 72 {762820C7-0000-0000-0000-100000000000}"}},
      {"mixed", kMixed,
       {"{D5CDD505-2E9C-101B-9397-08002B2CF9AE}", "  x - 2 -2", "{04030201-0605-0807-090A-0B0C0D0E0F10}",
        "  1 - 20 -1", "  2 - 11 true", "  3 - 17 7", "  4 - 65 (none)"}},
  };
  for (const Case& c : cases) {
    const PropertyStore store = ParsePropertyStore(c.bytes);
    EXPECT_EQ(store.error, "") << c.what;
    EXPECT_EQ(Listing(store), c.listing) << c.what;
    // The raw bytes are the store's own, in order, before its terminal.
    std::string joined;
    for (const PropertyStorage& s : store.storages) joined += s.raw;
    EXPECT_EQ(joined + std::string(4, '\0'), c.bytes) << c.what;
  }
  const PropertyStore ants = ParsePropertyStore(kAnts);
  ASSERT_NE(FindStringProperty(ants, kAppUserModelFormat, kAppUserModelId), nullptr);
  EXPECT_EQ(*FindStringProperty(ants, kAppUserModelFormat, kAppUserModelId), u"RedGate.AntsProfiler.9");
  EXPECT_EQ(FindStringProperty(ants, kAppUserModelFormat, 9), nullptr);  // a VT_BOOL
  EXPECT_EQ(FindStringProperty(ParsePropertyStore(kWinHex), kAppUserModelFormat, 5), nullptr);
}

// The block a new link gets holds the ID as Windows wrote it in the sample.
TEST(PropertyStore, NewStoreHoldsTheIdAsWindowsWritesIt) {
  const std::string windowsValue = ParsePropertyStore(kAnts).storages[0].properties[1].raw;
  EXPECT_EQ(SerializeStringProperty(5, u"RedGate.AntsProfiler.9"), windowsValue);
  const std::string store = NewStringPropertyStore(kAppUserModelFormat, 5, u"RedGate.AntsProfiler.9");
  EXPECT_EQ(PropertyStoreBlock(store),
            Hex("69000000 090000a0 5d000000 31535053 55284c9f799f394ba8d0e1d42de1d5f3") + windowsValue +
                Hex("00000000 00000000"));
  // Byte for byte the block of "Skype (3).lnk" (Windows 10, from the same
  // public test files), whose store holds that ID alone.
  EXPECT_EQ(PropertyStoreBlock(NewStringPropertyStore(kAppUserModelFormat, kAppUserModelId, u"Skype.Desktop.Application")),
            Hex("6d000000090000a0610000003153505355284c9f799f394ba8d0e1d42de1d5f34500000005000000001f0000001a000000"
                "53006b007900700065002e004400650073006b0074006f0070002e004100700070006c00690063006100740069006f006e00"
                "00000000000000000000"));
  // A text of an even length gets two bytes of padding; the value size is
  // not rounded.
  EXPECT_EQ(SerializeStringProperty(5, u"ab"), Hex("19000000 05000000 00 1f00 0000 03000000 610062000000 0000"));
  EXPECT_EQ(SerializeStringProperty(5, u"abc"), Hex("19000000 05000000 00 1f00 0000 04000000 6100620063000000"));
}

TEST(PropertyStore, EditsKeepEveryOtherPropertyInOrder) {
  struct Case {
    const char* what;
    const std::string& before;
    const char16_t* value;  // nullptr: remove
    std::vector<std::string> listing;
    bool changed, empty;
  };
  const std::string idOnly = NewStringPropertyStore(kAppUserModelFormat, 5, u"A.B");
  const Case cases[] = {
      {"replaced where it stands", kAnts, u"New.Id",
       {"{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}", "  9 System.AppUserModel.PreventPinning 11 false",
        "  5 System.AppUserModel.ID 31 New.Id"}, true, false},
      {"the same value changes no byte", kUserProfile, u"Microsoft.Windows.UserProfile",
       {"{46588AE2-4CBC-4338-BBFC-139326986DCE}", "  0 - 19 0", "{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}",
        "  5 System.AppUserModel.ID 31 Microsoft.Windows.UserProfile", "  18 System.AppUserModel.InstalledBy 19 1"},
       false, false},
      {"removed, InstalledBy kept", kUserProfile, nullptr,
       {"{46588AE2-4CBC-4338-BBFC-139326986DCE}", "  0 - 19 0", "{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}",
        "  18 System.AppUserModel.InstalledBy 19 1"}, true, false},
      {"removed, its storage kept for PreventPinning", kAnts, nullptr,
       {"{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}", "  9 System.AppUserModel.PreventPinning 11 false"}, true, false},
      {"removed with its storage", idOnly, nullptr, {}, true, true},
      {"nothing to remove", kWinHex, nullptr, Listing(ParsePropertyStore(kWinHex)), false, false},
      {"a new storage after the others", kMixed, u"A.B",
       [] {
         auto l = Listing(ParsePropertyStore(kMixed));
         l.insert(l.end(), {"{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}", "  5 System.AppUserModel.ID 31 A.B"});
         return l;
       }(), true, false},
  };
  for (const Case& c : cases) {
    const StoreEdit edit = c.value ? SetStringProperty(c.before, kAppUserModelFormat, 5, c.value)
                                   : RemoveProperty(c.before, kAppUserModelFormat, 5);
    ASSERT_TRUE(edit.ok) << c.what;
    const PropertyStore after = ParsePropertyStore(edit.store);
    EXPECT_EQ(after.error, "") << c.what;
    EXPECT_EQ(Listing(after), c.listing) << c.what;
    EXPECT_EQ(edit.changed, c.changed) << c.what;
    EXPECT_EQ(edit.empty, c.empty) << c.what;
    if (!c.changed) {
      EXPECT_EQ(edit.store, c.before) << c.what;
    }
    // Every storage of another format is kept byte for byte.
    const PropertyStore before = ParsePropertyStore(c.before);
    for (const PropertyStorage& s : before.storages) {
      if (s.formatId != kAppUserModelFormat) {
        EXPECT_NE(edit.store.find(s.raw), std::string::npos) << c.what;
      }
    }
  }
  // An ID added to a storage of its format goes after the others, and the
  // bytes after the terminal stay.
  const std::string pinOnly = RemoveProperty(kAnts, kAppUserModelFormat, 5).store;
  EXPECT_EQ(SetStringProperty(pinOnly + "xy", kAppUserModelFormat, 5, u"RedGate.AntsProfiler.9").store, kAnts + "xy");
}

TEST(PropertyStore, HostileBytesAreReportedNotRead) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* error;
  };
  const std::string header = Hex("31535053 55284c9f799f394ba8d0e1d42de1d5f3");
  const Case cases[] = {
      {"a size cut short", Hex("2000"), "a storage's size runs past the store"},
      {"a storage past the end", Hex("ff000000") + header, "a storage runs past the store"},
      {"a storage shorter than its header", Hex("08000000 31535053"), "a storage is too short for its header"},
      {"another version", Hex("18000000 31535054") + header.substr(4), "a storage has an unknown version"},
      {"a value past its storage", Hex("24000000") + header + Hex("20000000 05000000 00 1f00 0000"),
       "a property runs past its storage"},
      {"a value without its type", Hex("28000000") + header + Hex("0c000000 05000000 00 1f00 00 00000000"),
       "a property is too short for its type"},
      {"a value's size cut short", Hex("1a000000") + header + Hex("0d00"), "a property's size runs past its storage"},
      {"a name past its value",
       Hex("29000000 31535053 05d5cdd59c2e1b10939708002b2cf9ae 11000000 06000000 00 7800 0000 0200 0000 00000000"),
       "a property's name runs past it"},
      {"an odd name size",
       Hex("2e000000 31535053 05d5cdd59c2e1b10939708002b2cf9ae 12000000 01000000 00 78 0200 0000 feff0000 00000000"),
       "a property's name runs past it"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParsePropertyStore(c.bytes).error, c.error) << c.what;
    const StoreEdit edit = SetStringProperty(c.bytes, kAppUserModelFormat, 5, u"A.B");
    EXPECT_FALSE(edit.ok) << c.what;
    EXPECT_EQ(edit.error, c.error) << c.what;
  }
  // Every cut of every store: read without a fault, or refused; a short
  // string value keeps no text.
  for (const std::string* bytes : {&kAnts, &kUserProfile, &kWinHex, &kMixed}) {
    for (std::size_t n = 0; n <= bytes->size(); ++n) {
      const std::string cut = bytes->substr(0, n);
      EXPECT_EQ(RemoveProperty(cut, kAppUserModelFormat, 5).ok, ParsePropertyStore(cut).error.empty());
    }
  }
  // A string longer than its value: no text.
  const PropertyStore cut = ParsePropertyStore(Hex("2d000000") + header + Hex("11000000 05000000 00 1f00 0000 09000000 00000000"));
  ASSERT_EQ(cut.error, "");
  EXPECT_FALSE(cut.storages.at(0).properties.at(0).hasText);
}

}  // namespace
}  // namespace lnk
