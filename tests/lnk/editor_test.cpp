#include "lnk/editor.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "lnk/builder.h"
#include "lnk/link.h"
#include "lnk/propstore.h"
#include "platform/platform.h"
#include "support/bytes.h"

namespace lnk {
namespace {

using testsupport::Block;
using testsupport::Sample;
using testsupport::U32;
using testsupport::Utf16;

std::string Show(std::u16string_view s) { return platform::ToAnsi(s); }

// The blocks a Windows-made link holds and mklnk never writes: the item
// list Vista writes beside the other (a network root, the share's item,
// the names), a tracker, a console block, a property store with a path
// value, one block nobody knows.  Put before the terminal block.
std::string WithWindowsBlocks(const std::string& link, std::u16string_view share, std::u16string_view file) {
  std::string vista = std::string("\x14\x00\x1f\x58", 4) +
                      std::string("\x0D\x1A\x2C\xF0\x21\xBE\x50\x43\x88\xB0\x73\x67\xFC\x96\xEF\x3C", 16);
  std::string item = std::string("\x00\x00\xc3\x01\xc1", 5) + platform::ToAnsi(share) + '\0' + "Microsoft Network" +
                     std::string("\0\0\x02\x00", 4);
  item[0] = static_cast<char>(item.size());
  vista += item;
  LinkItem entry;
  entry.name = file;
  vista += BuildFileEntryItem(entry, false) + std::string(2, '\0');
  const std::string tracker =
      U32(0x58) + U32(0) + std::string("fileserver-old\0\0", 16) + std::string(64, '\x5a');
  std::string console(0xCC - 8, '\x07');
  // A storage of one VT_LPWSTR value, the target's folder: id, reserved,
  // VT_LPWSTR and padding, length, text.
  const std::u16string path = std::u16string(share) + u"\\Downloads";
  const std::string value = U32(5) + '\0' + U32(0x1F) + U32(path.size() + 1) + Utf16(path) +
                            std::string(2 + (path.size() % 2 == 0 ? 2 : 0), '\0');
  const std::string storage =
      std::string("1SPS") + std::string("\xA6\x6A\x63\x28\x3D\x95\xD2\x11\xB5\xD6\x00\xC0\x4F\xD9\x18\xD0", 16) +
      U32(4 + value.size()) + value + U32(0);
  const std::string store = U32(4 + storage.size()) + storage + U32(0);
  const std::string blocks = Block(signature::kVistaIdList, vista) + Block(signature::kTracker, tracker) +
                             Block(signature::kConsole, console) + Block(signature::kPropertyStore, store) +
                             Block(0xA00000EE, "unknown!");
  return link.substr(0, link.size() - 4) + blocks + link.substr(link.size() - 4);
}

// A link to a file on a share as Windows writes one: no item list, the
// share's LinkInfo, the working directory, the environment block, and the
// blocks above.
std::string NetworkLink(std::u16string_view share, std::u16string_view suffix) {
  LinkData data;
  data.idList = false;
  data.location = LinkData::Location::kNetwork;
  data.netName = platform::UpperCase(share);
  data.pathSuffix = suffix;
  data.targetPath = std::u16string(share) + u"\\" + std::u16string(suffix);
  data.environmentTarget = data.targetPath;
  data.workingDirectory = std::u16string(share) + u"\\Downloads";
  data.description = u"files on \\\\old\\share";
  data.targetAttributes = 0x20;
  return WithWindowsBlocks(BuildLinkFile(data), share, u"file1.txt");
}

// A link to a file on a drive, as mklnk makes one, with the same blocks.
std::string LocalLink(std::u16string_view path, std::u16string_view relative = u"") {
  LinkData data;
  data.targetPath = path;
  data.drive = path[0];
  std::u16string_view rest = path.substr(3);
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(u'\\'), rest.size());
    LinkItem item;
    item.name = rest.substr(0, end);
    item.isFolder = end < rest.size();
    item.writeTime = 132000000000000000ull;
    data.items.push_back(item);
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  data.workingDirectory = std::u16string(path.substr(0, path.rfind(u'\\')));
  data.relativePath = relative;
  data.iconLocation = u"%SystemRoot%\\system32\\shell32.dll";
  data.environmentIcon = data.iconLocation;
  data.driveSerial = 0x1234;
  return WithWindowsBlocks(BuildLinkFile(data), u"\\\\s\\t", u"x");
}

// Each section's bytes by name.
std::map<std::string, std::string> Sections(const std::string& bytes) {
  Link link;
  EXPECT_EQ(ReadLink(bytes, link), ReadStatus::kLink);
  EXPECT_TRUE(link.warnings.empty());
  std::map<std::string, std::string> out{{"header", link.header.bytes}, {"terminal", link.terminal}};
  if (!link.idList.empty()) out["items"] = link.idList;
  if (!link.linkInfo.empty()) out["linkinfo"] = link.linkInfo;
  const char* names[] = {"description", "relative", "workdir", "arguments", "icon"};
  for (std::size_t i = 0; i < kStringCount; ++i) {
    if (link.strings[i].stored()) out[names[i]] = link.strings[i].bytes;
  }
  for (const ExtraBlock& block : link.blocks) out["block " + std::to_string(block.signature & 0xFF)] = block.bytes;
  return out;
}

// The sections that differ, and which blocks came or went, as one text.
std::string Changed(const std::string& before, const std::string& after) {
  const auto a = Sections(before), b = Sections(after);
  std::set<std::string> names;
  for (const auto& [name, bytes] : a) names.insert(name);
  for (const auto& [name, bytes] : b) names.insert(name);
  std::string out;
  for (const std::string& name : names) {
    const auto x = a.find(name), y = b.find(name);
    if (x == a.end()) {
      out += "+" + name + " ";
    } else if (y == b.end()) {
      out += "-" + name + " ";
    } else if (x->second != y->second) {
      out += name + " ";
    }
  }
  return out;
}

std::u16string Upper(std::u16string_view text) { return platform::UpperCase(text); }

LinkEdit Base() {
  LinkEdit e;
  e.fold = &Upper;
  e.linkFolder = u"C:\\links";
  return e;
}

// Every option changes its own field, and no other byte of the file.
TEST(EditLink, EachOptionItsFieldAlone) {
  const std::string network = NetworkLink(u"\\\\192.168.138.2\\storage", u"Downloads\\file1.txt");
  struct Row {
    const char* what;
    void (*set)(LinkEdit&);
    const char* changed;
    const char* shown;
  };
  const Row rows[] = {
      {"arguments", [](LinkEdit& e) { e.arguments = u"-v"; }, "+arguments header ", "arguments: \"\" -> \"-v\""},
      {"description", [](LinkEdit& e) { e.description = u"new"; }, "description ",
       "description: \"files on \\\\old\\share\" -> \"new\""},
      {"no description", [](LinkEdit& e) { e.description = u""; }, "-description header ", nullptr},
      {"working directory", [](LinkEdit& e) { e.workingDirectory = u"C:\\w"; }, "workdir ", nullptr},
      {"no working directory", [](LinkEdit& e) { e.workingDirectory = u""; }, "header -workdir ", nullptr},
      {"icon", [](LinkEdit& e) { e.iconLocation = u"C:\\i.ico"; e.iconIndex = 3; }, "header +icon ", nullptr},
      {"icon with variables",
       [](LinkEdit& e) {
         e.iconLocation = u"C:\\w\\i.ico";
         e.iconEnvironment = u"%windir%\\i.ico";
       },
       "+block 7 header +icon ", nullptr},
      {"show", [](LinkEdit& e) { e.showCommand = 3; }, "header ", "show command: \"1\" -> \"3\""},
      {"hot key", [](LinkEdit& e) { e.hotKey = 0x64B; }, "header ", nullptr},
      {"run as administrator", [](LinkEdit& e) { e.runAsUser = true; }, "header ", nullptr},
      {"app id", [](LinkEdit& e) { e.appId = u"Company.App"; }, "block 9 ", "app id: \"\" -> \"Company.App\""},
      {"no app id, and none there", [](LinkEdit& e) { e.appId = u""; }, "", nullptr},
      {"the same again", [](LinkEdit& e) { e.showCommand = 1; e.description = u"files on \\\\old\\share"; }, "", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LinkEdit edit = Base();
    row.set(edit);
    const EditResult result = EditLink(network, edit);
    EXPECT_EQ(Changed(network, result.bytes), row.changed);
    EXPECT_EQ(result.changes.empty(), std::string(row.changed).empty());
    if (row.shown) {
      ASSERT_FALSE(result.changes.empty());
      const FieldChange& c = result.changes.front();
      const auto quoted = [](const std::u16string& s) { return "\"" + Show(s) + "\""; };
      EXPECT_EQ(Show(c.field) + ": " + quoted(c.before) + " -> " + quoted(c.after), row.shown);
    }
  }
  // A header field, and only it.
  LinkEdit edit = Base();
  edit.hotKey = 0x64B;
  const std::string after = EditLink(network, edit).bytes;
  for (std::size_t i = 0; i < network.size(); ++i) {
    if (i != 64 && i != 65) {
      EXPECT_EQ(network[i], after[i]) << i;
    }
  }
  EXPECT_EQ(after.substr(64, 2), "\x4b\x06");
}

// The AppUserModelID in the property store of a Windows-made link with
// three properties: set, replaced and removed, the others kept in order and
// every other byte of the file with them; a store left empty goes with its
// block, and a link without one gets it first among its blocks.
TEST(EditLink, AppUserModelId) {
  const std::string sample = Sample("hot-key.lnk");
  const auto listing = [](const std::string& bytes) {
    Link link;
    EXPECT_EQ(ReadLink(bytes, link), ReadStatus::kLink);
    std::string out;
    for (const ExtraBlock& block : link.blocks) {
      out += "[" + std::to_string(block.signature & 0xFF) + "]";
      if (block.signature != signature::kPropertyStore) continue;
      for (const PropertyStorage& s : ParsePropertyStore(block.bytes.substr(8)).storages) {
        for (const StoredProperty& p : s.properties) out += " " + std::to_string(p.id) + "=" + Show(p.text);
      }
    }
    return out;
  };
  ASSERT_EQ(listing(sample), "[9] 0=0 5=Microsoft.Windows.Explorer 18=1[1]");
  struct Row {
    const char16_t* id;
    const char* listing;
  };
  const Row rows[] = {
      {u"Company.App", "[9] 0=0 5=Company.App 18=1[1]"},
      {u"Microsoft.Windows.Explorer", "[9] 0=0 5=Microsoft.Windows.Explorer 18=1[1]"},
      {u"", "[9] 0=0 18=1[1]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Show(row.id));
    LinkEdit edit = Base();
    edit.appId = row.id;
    const EditResult result = EditLink(sample, edit);
    EXPECT_EQ(listing(result.bytes), row.listing);
    EXPECT_EQ(Changed(sample, result.bytes), std::u16string_view(row.id) == u"Microsoft.Windows.Explorer" ? "" : "block 9 ");
  }
  // A store of the ID alone goes with its block; a link without a store
  // gets one, first among its blocks, as a new link has it.
  LinkData d;
  d.targetPath = u"C:\\x.txt";
  d.drive = u'C';
  d.items.push_back(LinkItem{u"x.txt"});
  d.environmentTarget = u"%TEMP%\\x.txt";
  d.propertyStore = NewStringPropertyStore(kAppUserModelFormat, kAppUserModelId, u"A.B");
  const std::string made = BuildLinkFile(d);
  ASSERT_EQ(listing(made), "[9] 5=A.B[1]");
  LinkEdit drop = Base();
  drop.appId = u"";
  const std::string dropped = EditLink(made, drop).bytes;
  EXPECT_EQ(listing(dropped), "[1]");
  LinkEdit add = Base();
  add.appId = u"A.B";
  EXPECT_EQ(EditLink(dropped, add).bytes, made);
}

bool HoldsText(const std::string& bytes, std::u16string_view text) {
  const std::string ansi = platform::ToAnsi(text), wide = Utf16(text);
  const std::string upperAnsi = platform::ToAnsi(Upper(text)), upperWide = Utf16(Upper(text));
  for (const std::string* s : {&ansi, &wide, &upperAnsi, &upperWide}) {
    if (bytes.find(*s) != std::string::npos) return true;
  }
  return false;
}

// --replace: every stored form of the target, at a name boundary, in any
// letter case, no copy of the old path left; the working directory and the
// relative path made anew; text that holds the old path is named, and stays.
TEST(EditLink, ReplacePaths) {
  struct Row {
    const char* what;
    std::string link;
    std::u16string from, to;
    const char* changed;
    std::u16string target;     // after, empty for no change
    const char16_t* workdir;   // after, or nullptr
    const char16_t* relative;  // after, or nullptr
    const char* holds;         // the text fields named
  };
  const std::string network = NetworkLink(u"\\\\192.168.138.2\\storage", u"Downloads\\file1.txt");
  const std::string upper = NetworkLink(u"\\\\192.168.138.2\\STORAGE", u"Downloads\\file1.txt");
  const std::string local = LocalLink(u"C:\\old\\dir\\a.txt", u"..\\old\\dir\\a.txt");
  const Row rows[] = {
      {"a share", network, u"\\\\192.168.138.2\\storage", u"\\\\fileserver\\archive",
       "block 1 block 9 -block 12 -block 3 linkinfo workdir ", u"\\\\FILESERVER\\ARCHIVE\\Downloads\\file1.txt", nullptr,
       nullptr, ""},
      {"a share in capitals", upper, u"\\\\192.168.138.2\\Storage", u"\\\\fileserver\\archive",
       "block 1 block 9 -block 12 -block 3 linkinfo workdir ", u"\\\\FILESERVER\\ARCHIVE\\Downloads\\file1.txt", nullptr,
       nullptr, ""},
      {"a folder on a share", network, u"\\\\192.168.138.2\\storage\\downloads", u"\\\\new\\s\\dl",
       "block 1 block 9 -block 12 -block 3 linkinfo workdir ", u"\\\\NEW\\S\\dl\\file1.txt", nullptr, nullptr, ""},
      {"a share to a drive", network, u"\\\\192.168.138.2\\storage", u"D:\\mirror",
       "block 1 block 9 -block 12 -block 3 header -linkinfo workdir ", u"D:\\mirror\\Downloads\\file1.txt", nullptr,
       nullptr, ""},
      {"a folder on the same drive", local, u"c:\\OLD", u"C:\\new", "items linkinfo relative workdir -block 12 -block 3 ",
       u"C:\\new\\dir\\a.txt", u"C:\\new\\dir", u"..\\new\\dir\\a.txt", ""},
      {"another drive", local, u"C:\\old\\dir", u"D:\\x",
       "header items -linkinfo -relative workdir -block 12 -block 3 ", u"D:\\x\\a.txt", nullptr, nullptr, ""},
      // A Windows-made link to a file on a share, its item list through
      // the network, moved to another server; its tracker goes.
      {"a Windows-made link on a share", Sample("share-file.lnk"), u"\\\\ALS-FICHIERS3\\qualit\u00e9",
       u"\\\\newserver\\docs", "-block 3 items linkinfo workdir ",
       u"\\\\NEWSERVER\\DOCS\\Archives\\M\u00e9thodologie WAS\\Norme de d\u00e9veloppement JAVA.doc",
       u"\\\\newserver\\docs\\Archives\\M\u00e9thodologie WAS", nullptr, ""},
      {"not at a name boundary", local, u"C:\\ol", u"D:\\x", "", u"", nullptr, nullptr, ""},
      {"nothing of it", network, u"\\\\192.168.138.2\\store", u"\\\\x\\y", "", u"", nullptr, nullptr, ""},
      {"only in the description", network, u"\\\\OLD\\share", u"\\\\new\\share", "", u"", nullptr, nullptr,
       "description "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LinkEdit edit = Base();
    edit.replace = PathChange{row.from, row.to, &Upper};
    const EditResult result = EditLink(row.link, edit);
    std::string changed = Changed(row.link, result.bytes);
    // The order of the names above is the set's: compare as sets.
    const auto words = [](std::string s) {
      std::multiset<std::string> out;
      for (std::size_t at; (at = s.find(' ')) != std::string::npos; s.erase(0, at + 1)) out.insert(s.substr(0, at));
      return out;
    };
    EXPECT_EQ(words(changed), words(row.changed)) << changed;
    // What a dry run prints names each block that goes.
    const auto named = std::count_if(result.changes.begin(), result.changes.end(), [](const FieldChange& c) {
      return c.field.ends_with(u" block") && c.after.empty();
    });
    EXPECT_EQ(static_cast<std::size_t>(named), words(row.changed).count("-block"));
    std::string holds;
    for (const std::u16string& field : result.textHolds) holds += Show(field) + " ";
    EXPECT_EQ(holds, row.holds);
    if (row.target.empty()) {
      EXPECT_EQ(result.bytes, row.link);
      continue;
    }
    std::u16string target;
    for (const FieldChange& c : result.changes) {
      if (c.field == u"target") target = c.after;
    }
    EXPECT_EQ(target, row.target);
    // No copy of the old path anywhere in the file.
    EXPECT_FALSE(HoldsText(result.bytes, row.from));
    Link link;
    ReadLink(result.bytes, link);
    if (row.workdir) {
      EXPECT_EQ(link.string(StringId::kWorkingDir).text, row.workdir);
    }
    if (row.relative) {
      EXPECT_EQ(link.string(StringId::kRelativePath).text, row.relative);
    }
  }
}

// The Windows-made samples (property stores, trackers, console, special
// and known folder, environment and unknown blocks): each option changes
// its own field and the header's flag, and no other section.
TEST(EditLink, WindowsSamplesKeepTheirOtherBytes) {
  struct Row {
    const char* what;
    void (*set)(LinkEdit&);
    std::set<std::string> may;  // the sections that may change, come or go
  };
  const Row rows[] = {
      {"arguments", [](LinkEdit& e) { e.arguments = u"-NoLogo"; }, {"header", "arguments"}},
      {"description", [](LinkEdit& e) { e.description = u""; }, {"header", "description"}},
      {"working directory", [](LinkEdit& e) { e.workingDirectory = u"D:\\work"; }, {"header", "workdir"}},
      {"icon", [](LinkEdit& e) { e.iconLocation = u"C:\\i.ico"; }, {"header", "icon", "block 7"}},
      {"show, hot key, run as administrator",
       [](LinkEdit& e) {
         e.showCommand = 7;
         e.hotKey = 0x270;
         e.runAsUser = true;
       },
       {"header"}},
  };
  int samples = 0;
  for (const auto& [file, bytes] : testsupport::Samples()) {
    Link link;
    if (ReadLink(bytes, link) != ReadStatus::kLink || !link.warnings.empty()) continue;
    ++samples;
    for (const Row& row : rows) {
      SCOPED_TRACE(file + ": " + row.what);
      LinkEdit edit = Base();
      row.set(edit);
      const std::string after = EditLink(bytes, edit).bytes;
      std::string changed = Changed(bytes, after);
      for (std::size_t at; (at = changed.find(' ')) != std::string::npos; changed.erase(0, at + 1)) {
        std::string name = changed.substr(0, at);
        if (name[0] == '+' || name[0] == '-') name.erase(0, 1);
        if (name == "block") continue;  // "block N": the number follows
        if (name.find_first_not_of("0123456789") == std::string::npos) name = "block " + name;
        EXPECT_TRUE(row.may.count(name)) << name;
      }
      // The header: its flags and the fields the option sets alone.
      for (std::size_t i = 0; i < 76; ++i) {
        if ((i < 20 || i >= 24) && (i < 56 || i >= 66)) {
          EXPECT_EQ(bytes[i], after[i]) << i;
        }
      }
    }
  }
  EXPECT_GE(samples, 10);
}

// A new target's parts replace the old ones'; what describes the old one
// goes; the working directory follows only where it was its folder.
TEST(EditLink, NewTarget) {
  const std::string local = LocalLink(u"C:\\old\\dir\\a.txt", u"..\\old\\dir\\a.txt");
  LinkData made;
  made.targetPath = u"D:\\tools\\b.exe";
  made.drive = u'D';
  LinkItem tools, b;
  tools.name = u"tools";
  tools.isFolder = true;
  b.name = u"b.exe";
  made.items = {tools, b};
  made.workingDirectory = u"D:\\tools";
  made.targetAttributes = 0x20;
  made.targetSize = 1234;
  LinkEdit edit = Base();
  edit.targetLink = BuildLinkFile(made);
  EditResult result = EditLink(local, edit);
  // The property store held the old file's paths alone.
  EXPECT_EQ(Changed(local, result.bytes), "-block 12 -block 3 -block 9 header items linkinfo -relative workdir ");
  Link link;
  ReadLink(result.bytes, link);
  EXPECT_EQ(Show(link.string(StringId::kWorkingDir).text), "D:\\tools");
  EXPECT_EQ(link.header.fileSize, 1234u);
  Link fresh;
  ReadLink(*edit.targetLink, fresh);
  EXPECT_EQ(link.idList, fresh.idList);
  EXPECT_EQ(link.linkInfo, fresh.linkInfo);
  // A working directory of its own stays.
  edit.workingDirectory = u"C:\\mine";
  result = EditLink(local, edit);
  ReadLink(result.bytes, link);
  EXPECT_EQ(Show(link.string(StringId::kWorkingDir).text), "C:\\mine");
}

// What is no link, or a damaged one, is refused whole.
TEST(EditLink, RefusesWhatItCannotRead) {
  LinkEdit edit = Base();
  edit.arguments = u"x";
  const std::string local = LocalLink(u"C:\\a.txt");
  for (const std::string& bytes : {std::string(), std::string("hello"), local.substr(0, 200), local.substr(0, 75)}) {
    EXPECT_THROW(EditLink(bytes, edit), LinkDataError) << bytes.size();
  }
  edit.arguments = std::u16string(0x10000, u'a');
  EXPECT_THROW(EditLink(local, edit), LinkDataError);
}

}  // namespace
}  // namespace lnk
