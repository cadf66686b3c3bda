#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"

namespace {

using mklnk::cli::OptionReader;

std::string Show(const std::u16string& s) { return platform::ToAnsi(s); }

// What a reader made of a line: the error, else every property and the
// /showargs lines, in one comparable text.
std::string Read(const OptionReader& r) {
  if (!r.error().empty()) return "error: " + Show(r.error());
  const platform::LinkProperties& p = r.options().link;
  std::string out = "args=" + Show(p.arguments) + " workdir=" + Show(p.workingDirectory) +
                    " desc=" + Show(p.description) + " icon=" + Show(p.iconLocation) + "," +
                    std::to_string(p.iconIndex) + " show=" + std::to_string(p.showCommand) +
                    " hotkey=" + std::to_string(p.hotKey) + (p.runAsAdministrator ? " admin" : "") +
                    (p.appId.empty() ? "" : " appid=" + Show(p.appId));
  for (const std::u16string& line : r.options().echo) out += " | " + Show(line);
  static constexpr const char* kModes[] = {"", " read=text", " read=json", " read=command"};
  return out + kModes[static_cast<int>(r.options().read)];
}

const std::string kNone = "args= workdir= desc= icon=,0 show=1 hotkey=0";

// Raw Windows command lines: the options out, the rest for the splitting
// exactly as it was around them.
TEST(ReadOptions, RawCommandLines) {
  const std::u16string desc1023(1023, u'd'), desc1024(1024, u'd');
  const std::u16string appId128 = u"Company.\u00c9" + std::u16string(119, u'x');
  struct Row {
    std::u16string raw, rest;
    std::string read;
  };
  const Row rows[] = {
      {u"", u"", kNone},
      {u"a b /showargs", u"a b /showargs", kNone},
      {u"/ARGS:x a b", u"a b", "args=x workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: x"},
      {u"a /args:x b", u"a b", "args=x workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: x"},
      {u"a b /Args:x", u"a b", "args=x workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: x"},
      {u"/ARGS:x  a b", u" a b", "args=x workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: x"},
      // Quoted parts keep their spaces; "" is one double quote.
      {u"/ARGS:\"/k \"\"C:\\My Tools\\build.bat\"\"\" a b", u"a b",
       "args=/k \"C:\\My Tools\\build.bat\" workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: /k \"C:\\My "
       "Tools\\build.bat\""},
      {u"/DESC:a\"b c\"d e f", u"e f", "args= workdir= desc=ab cd icon=,0 show=1 hotkey=0 | Description: ab cd"},
      {u"/DESC: a b", u"a b", "args= workdir= desc= icon=,0 show=1 hotkey=0 | Description: "},
      // Not options: no space before, an unknown name, a name run on.
      {u"a/ARGS:x b", u"a/ARGS:x b", kNone},
      {u"/ARGSX:1 a b", u"/ARGSX:1 a b", kNone},
      {u"/? a b", u"/? a b", kNone},
      {u"/ADMIN /SHOW:MAX /HOTKEY:ctrl+alt+k /WORKDIR:C:\\w /ICON:shell32.dll,3 a b", u"a b",
       "args= workdir=C:\\w desc= icon=shell32.dll,3 show=3 hotkey=1611 admin | Run as administrator | Show: "
       "maximized | Hot key: Ctrl+Alt+K | Working directory: C:\\w | Icon: shell32.dll, index 3"},
      {u"/SHOW:min /HOTKEY:Shift+F10 /ICON:a,b.ico,-2 a b", u"a b",
       "args= workdir= desc= icon=a,b.ico,-2 show=7 hotkey=377 | Show: minimized | Hot key: Shift+F10 | "
       "Icon: a,b.ico, index -2"},
      // The read mode's words; the files are left for the read.
      {u"/READ /JSON a.lnk \"b c.lnk\"", u"a.lnk \"b c.lnk\"", kNone + " read=json"},
      {u"/HOTKEY:F24 /ICON:x.ico a b", u"a b",
       "args= workdir= desc= icon=x.ico,0 show=1 hotkey=135 | Hot key: F24 | Icon: x.ico, index 0"},
      {u"/DESC:" + desc1023 + u" a b", u"a b",
       "args= workdir= desc=" + Show(desc1023) + " icon=,0 show=1 hotkey=0 | Description: " + Show(desc1023)},
      // Values an option cannot take: one line naming the option.
      {u"/ADMIN:yes a b", u"", "error: /ADMIN takes no value."},
      {u"/ARGS a b", u"", "error: /ARGS takes a value, as in /ARGS:VALUE."},
      {u"/ARGS:a /args:b", u"", "error: /args is given twice."},
      {u"/DESC:\"open a b", u"", "error: /DESC has a double quote that is not closed."},
      {u"/WORKDIR: a b", u"", "error: /WORKDIR takes a folder: \"\"."},
      {u"/SHOW:sideways", u"", "error: /SHOW takes normal, max or min: \"sideways\"."},
      {u"/DESC:" + desc1024, u"", "error: /DESC takes at most 1023 characters; this one has 1024."},
      {u"/ICON:x,abc", u"", "error: /ICON takes an icon file and, after a comma, the icon's index, as in "
                            "shell32.dll,3: \"x,abc\"."},
      {u"/ICON:,3", u"", "error: /ICON takes an icon file and, after a comma, the icon's index, as in "
                         "shell32.dll,3: \",3\"."},
      // The AppUserModelID: up to 128 characters, no space (quoted or not), never empty.
      {u"a /APPID:" + appId128 + u" b", u"a b", kNone + " appid=" + Show(appId128) + " | AppUserModelID: " + Show(appId128)},
      {u"/APPID:" + appId128 + u"x", u"", "error: /APPID takes at most 128 characters; this one has 129."},
      {u"/appid:\"Company.My App\" a b", u"", "error: /appid takes an application ID without spaces, as in "
                                               "Company.Product: \"Company.My App\"."},
      {u"/APPID: a b", u"", "error: /APPID takes an application ID without spaces, as in Company.Product: \"\"."},
      {u"/APPID a b", u"", "error: /APPID takes a value, as in /APPID:VALUE."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Show(row.raw).substr(0, 80));
    OptionReader reader;
    const std::u16string rest = reader.TakeSlashOptions(row.raw);
    EXPECT_EQ(Read(reader), row.read);
    if (row.read.rfind("error", 0) != 0) {
      EXPECT_EQ(Show(rest), Show(row.rest));
    }
  }
  // Every hot key the field refuses, with what it takes.
  for (const char16_t* key : {u"Ctrl+", u"K", u"Shift+K", u"Ctrl+Ctrl+K", u"Alt+F25", u"Alt+F0", u"Ctrl+Alt+KK",
                              u"Win+K", u"Alt+F-1", u"Ctrl+é"}) {
    OptionReader reader;
    reader.TakeSlashOptions(u"/HOTKEY:" + std::u16string(key));
    EXPECT_EQ(Show(reader.error()).rfind("/HOTKEY takes Ctrl, Alt or Shift and a key (A to Z, 0 to 9, F1 to F24)", 0),
              0u)
        << Show(key);
  }
}

// Linux's words: a slash option's value is the rest of its word, GNU long
// options are taken first and end at "--".
TEST(ReadOptions, Words) {
  using Words = std::vector<std::u16string>;
  struct Row {
    Words words, rest;
    std::string read;
  };
  const Row rows[] = {
      {{u"--arguments=x", u"a", u"b"}, {u"a", u"b"}, "args=x workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: x"},
      {{u"a", u"--", u"--arguments=x", u"b"}, {u"a", u"--arguments=x", u"b"}, kNone},
      {{u"-x", u"-", u"--", u"--x"}, {u"-x", u"-", u"--x"}, kNone},
      {{u"-x", u"--ARGUMENTS=x"}, {}, "error: unknown option --ARGUMENTS=x; mklnk --help lists them."},
      {{u"--show=max", u"--run-as-admin"}, {}, "args= workdir= desc= icon=,0 show=3 hotkey=0 admin | Show: maximized "
                                               "| Run as administrator"},
      {{u"--run-as-admin=1"}, {}, "error: --run-as-admin takes no value."},
      {{u"--description"}, {}, "error: --description takes a value, as in --description=VALUE."},
      // Slash words, no quote processing: a second pass, as the run makes it.
      {{u"/ARGS:/k \"a b\"", u"a", u"/showargs"}, {u"a", u"/showargs"},
       "args=/k \"a b\" workdir= desc= icon=,0 show=1 hotkey=0 | Arguments: /k \"a b\""},
      {{u"--arguments=x", u"/args:y"}, {}, "error: /args is given twice."},
      // After "--" a slash word is a path; a byte that was no UTF-8 is no text.
      {{u"a", u"--", u"/ARGS:x"}, {u"a", u"/ARGS:x"}, kNone},
      {{u"/DESC:caf\xDCE9"}, {}, "error: /DESC holds bytes that are not UTF-8 text."},
      {{u"/DESC:\U0001F600"}, {}, "args= workdir= desc=" + Show(u"\U0001F600") + " icon=,0 show=1 hotkey=0 | "
                                   "Description: " + Show(u"\U0001F600")},
      {{u"a", u"--app-id=Company.App", u"b"}, {u"a", u"b"}, kNone + " appid=Company.App | AppUserModelID: Company.App"},
      {{u"--app-id="}, {}, "error: --app-id takes an application ID without spaces, as in Company.Product: \"\"."},
      {{u"--app-id=a", u"/APPID:b"}, {}, "error: /APPID is given twice."},
      {{u"--app-id=", u"a.lnk", u"--edit"}, {u"a.lnk"}, kNone + " | AppUserModelID:  | Edit"},
      {{u"--edit", u"--app-id=a b"}, {}, "error: --app-id takes an application ID without spaces, as in "
                                          "Company.Product: \"a b\"."},
      // An edit's options, and the empty values that remove a string; what
      // only making a link refuses is refused only without --edit.
      {{u"--working-directory=", u"a.lnk", u"--icon=", u"/EDIT", u"--dry-run"}, {u"a.lnk"},
       "args= workdir= desc= icon=,0 show=1 hotkey=0 | Working directory:  | Icon: , index 0 | Dry run | Edit"},
      {{u"--working-directory=", u"a", u"b"}, {}, "error: --working-directory takes a folder: \"\"."},
      {{u"--dry-run", u"--icon=", u"--bogus"}, {}, "error: --dry-run changes links: it goes with --edit."},
      {{u"/TARGET:x", u"a"}, {}, "error: /TARGET changes links: it goes with /EDIT."},
      {{u"--edit", u"--replace=C:\\a"}, {}, "error: --replace takes two paths joined by |, as in "
                                              "\\\\old\\share|\\\\new\\share: \"C:\\a\"."},
      {{u"--edit", u"--replace=a|\\\\s\\t"}, {}, "error: --replace takes full paths, a drive's (C:\\...) or a "
                                                    "share's (\\\\server\\share...): \"a|\\\\s\\t\"."},
      {{u"--edit", u"--replace=C:|\\\\s\\t", u"--recursive", u"--target=x"}, {},
       "args= workdir= desc= icon=,0 show=1 hotkey=0 | Edit | Replace: C: with \\\\s\\t | Recursive | Target: x"},
      {{u"--read", u"a.lnk"}, {u"a.lnk"}, kNone + " read=text"},
      {{u"/Read", u"/json", u"a"}, {u"a"}, kNone + " read=json"},
      {{u"--command", u"--read", u"x"}, {u"x"}, kNone + " read=command"},
      {{u"--json", u"/COMMAND"}, {}, "error: --json and --command cannot be used together; /JSON and /COMMAND neither."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Show(row.words.front()));
    OptionReader reader;
    Words words = row.words;
    reader.TakeLongOptions(words);
    reader.TakeSlashOptions(words);
    EXPECT_EQ(Read(reader), row.read);
    if (reader.error().empty()) {
      EXPECT_EQ(words, row.rest);
    }
  }
}

}  // namespace
