// mklnk --read (see read.h).  In order: spelling values; the text lines;
// the JSON line; the command line; the run over the files.
#include "cli/read.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/text.h"
#include "cli/command_line.h"
#include "console/line_writer.h"
#include "fs/paths.h"
#include "platform/platform.h"

namespace mklnk::cli {

using mklnk::text::Decimal;

using lnk::BlockView;
using lnk::Field;
using lnk::Link;
using lnk::LinkView;
using std::string;
using std::u16string;
using std::u16string_view;

namespace {

// A link file is a few hundred bytes; one larger than this is read this
// far, which holds every section a sound link has.
constexpr std::size_t kMostRead = 16u << 20;

constexpr std::uint32_t kShowNormal = 1, kShowMaximized = 3, kShowMinNoActive = 7;

u16string Ascii(std::string_view text) { return u16string(text.begin(), text.end()); }


string HexDigits(std::uint64_t v, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  string s;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) s.push_back(kDigits[v >> shift & 0xF]);
  return s;
}

string Signature(std::uint32_t signature) { return "0x" + HexDigits(signature, 8); }

// Text for a person's terminal: a control character would move the cursor
// or end the line, and a direction mark would show a path reversed, so
// each is shown by its number.
u16string Shown(u16string_view text) {
  u16string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
    const bool direction = (c >= 0x200E && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    if (control) {
      out += Ascii("\\x" + HexDigits(c, 2));
    } else if (direction) {
      out += Ascii("\\u" + HexDigits(c, 4));
    } else {
      out += c;
    }
  }
  return out;
}

// The show command in /SHOW:'s words; "" for one it has no word for.
u16string_view ShowWord(std::uint32_t show) {
  switch (show) {
    case kShowNormal: return u"normal";
    case kShowMaximized: return u"max";
    case kShowMinNoActive: return u"min";
    default: return u"";
  }
}

// The hot key in /HOTKEY:'s spelling (Ctrl+Alt+K); "" for one it cannot
// spell, and for none.
u16string HotKeyWords(std::uint16_t hotKey) {
  const std::uint8_t key = hotKey & 0xFF, modifiers = hotKey >> 8;
  u16string name;
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
    if ((modifiers & 0x06) == 0) return u"";  // a letter or digit alone would be typing
    name = u16string(1, static_cast<char16_t>(key));
  } else if (key >= 0x70 && key <= 0x87) {
    name = u"F" + Decimal(key - 0x70 + 1);
  } else {
    return u"";
  }
  if (modifiers & ~0x07) return u"";
  u16string out;
  if (modifiers & 0x02) out += u"Ctrl+";
  if (modifiers & 0x04) out += u"Alt+";
  if (modifiers & 0x01) out += u"Shift+";
  return out + name;
}

const char* DriveTypeName(std::uint32_t type) {
  static constexpr const char* kNames[] = {"unknown", "no root folder", "removable", "fixed", "remote", "CD-ROM",
                                           "RAM disk"};
  return type < std::size(kNames) ? kNames[type] : "unknown";
}

u16string BlockText(const BlockView& b) {
  u16string line = Ascii(b.name);
  if (!b.known) return line + u" block " + Ascii(Signature(b.signature));
  bool first = true;
  for (const Field& f : b.fields) {
    if (f.kind == Field::Kind::kText && f.text.empty()) continue;
    line += first ? u": " : u", ";
    first = false;
    if (!f.label.empty()) line += Ascii(f.label) + u" ";
    line += f.kind == Field::Kind::kText ? Shown(f.text) : Decimal(f.number);
  }
  return line;
}

// ---- JSON ------------------------------------------------------------------

class JsonObject {
 public:
  void Key(std::string_view key) {
    out_ += first_ ? "" : ",";
    first_ = false;
    out_ += JsonString(Ascii(key));
    out_ += ':';
  }
  void Text(std::string_view key, const std::optional<u16string>& value) {
    Key(key);
    out_ += value ? JsonString(*value) : "null";
  }
  void Number(std::string_view key, std::int64_t value) {
    Key(key);
    out_ += std::to_string(value);
  }
  void Bool(std::string_view key, bool value) {
    Key(key);
    out_ += value ? "true" : "false";
  }
  void Raw(std::string_view key, std::string_view json) {
    Key(key);
    out_ += json;
  }
  string Close() { return out_ + "}"; }

 private:
  string out_ = "{";
  bool first_ = true;
};

string JsonTime(std::uint64_t filetime) { return filetime == 0 ? "null" : JsonString(Ascii(lnk::FileTimeText(filetime))); }

string JsonList(const std::vector<string>& items) {
  string out = "[";
  for (const string& item : items) out += (out.size() > 1 ? "," : "") + item;
  return out + "]";
}

string JsonBlock(const Link& link, std::size_t index, const BlockView& b) {
  JsonObject o;
  o.Raw("signature", JsonString(Ascii(Signature(b.signature))));
  o.Raw("name", JsonString(Ascii(b.name)));
  for (const Field& f : b.fields) {
    if (f.kind == Field::Kind::kText) {
      o.Text(f.key, f.text);
    } else {
      o.Number(f.key, f.number);
    }
  }
  if (!b.known) {
    const string& bytes = link.blocks[index].bytes;
    string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) hex += HexDigits(static_cast<unsigned char>(c), 2);
    o.Raw("hex", "\"" + hex + "\"");
  }
  return o.Close();
}

}  // namespace

string JsonString(u16string_view text) {
  string out = "\"";
  for (const char16_t c : text) {
    switch (c) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\u" + HexDigits(c, 4);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// ---- the text lines ----------------------------------------------------------

std::vector<u16string> TextLines(u16string_view file, const Link& link, const LinkView& view) {
  std::vector<u16string> lines;
  lines.push_back(Shown(file));
  auto line = [&lines](std::string_view label, u16string_view value) {
    lines.push_back(u"  " + Ascii(label) + u": " + Shown(value));
  };
  const lnk::Header& h = link.header;
  if (view.target) {
    const u16string kind = !view.targetIsFolder ? u"" : *view.targetIsFolder ? u" (folder)" : u" (file)";
    line("target", *view.target + kind);
  }
  if (view.arguments) line("arguments", *view.arguments);
  if (view.workingDir) line("working directory", *view.workingDir);
  if (view.description) line("description", *view.description);
  if (view.iconLocation) {
    line("icon", *view.iconLocation + u", index " + Decimal(h.iconIndex));
  } else if (h.iconIndex != 0) {
    line("icon index", Decimal(h.iconIndex));
  }
  if (h.showCommand != kShowNormal) {
    const u16string_view word = ShowWord(h.showCommand);
    line("show", word.empty() ? Decimal(h.showCommand) : u16string(word));
  }
  if (h.hotKey != 0) {
    const u16string words = HotKeyWords(h.hotKey);
    line("hot key", words.empty() ? Ascii("0x" + HexDigits(h.hotKey, 4)) : words);
  }
  if (h.linkFlags & lnk::kRunAsUser) lines.push_back(u"  run as administrator");
  if (view.appId) line("app id", *view.appId);

  if (view.hasItemList) {
    u16string names;
    for (const lnk::Item& item : view.itemList.items) {
      names += (names.empty() ? u"" : u" > ") +
               (!item.name.empty() ? item.name
                : !item.guid.empty() ? Ascii(item.guid)
                                     : Ascii(item.kind + " 0x" + HexDigits(item.type, 2)));
    }
    line("item list", view.itemList.path ? *view.itemList.path : names.empty() ? u"(empty)" : names);
  }
  if (view.hasLinkInfo) {
    const lnk::LinkInfoView& li = view.linkInfo;
    if (!li.localPath.empty()) {
      u16string volume;
      if (li.volume) {
        volume = u" (" + Ascii(DriveTypeName(li.driveType)) + u" drive, serial " +
                 Ascii(HexDigits(li.driveSerial >> 16, 4) + "-" + HexDigits(li.driveSerial & 0xFFFF, 4));
        if (!li.volumeLabel.empty()) volume += u", label " + li.volumeLabel;
        volume += u")";
      }
      line("LinkInfo local path", li.localPath + volume);
    }
    if (!li.networkShare.empty()) {
      line("LinkInfo network share", li.networkShare + (li.pathSuffix.empty() ? u"" : u", path " + li.pathSuffix));
    }
  }
  if (view.environmentTarget) line("environment block", *view.environmentTarget);
  if (view.relativePath) line("relative path", *view.relativePath);
  std::transform(view.warnings.begin(), view.warnings.end(), std::back_inserter(lines),
                 [](const string& w) { return u"  warning: " + Ascii(w); });
  for (std::size_t i = 0; i < view.blocks.size(); ++i) {
    const BlockView& b = view.blocks[i];
    lines.push_back(u"  " + BlockText(b) + u", " + Decimal(static_cast<std::int64_t>(link.blocks[i].bytes.size())) +
                    u" bytes");
  }
  return lines;
}

// ---- the JSON line -------------------------------------------------------------

std::u16string JsonLine(u16string_view file, const Link& link, const LinkView& view) {
  const lnk::Header& h = link.header;
  JsonObject o;
  o.Text("file", u16string(file));
  o.Text("target", view.target);
  o.Raw("target_type", !view.targetIsFolder ? "null" : *view.targetIsFolder ? "\"folder\"" : "\"file\"");
  o.Text("arguments", view.arguments);
  o.Text("working_directory", view.workingDir);
  o.Text("description", view.description);
  o.Text("icon_location", view.iconLocation);
  o.Number("icon_index", h.iconIndex);
  o.Number("show_command", h.showCommand);
  o.Number("hotkey", h.hotKey);
  o.Bool("run_as_admin", (h.linkFlags & lnk::kRunAsUser) != 0);
  o.Text("app_id", view.appId);
  o.Number("link_flags", h.linkFlags);
  o.Number("file_attributes", h.fileAttributes);
  o.Raw("creation_time", JsonTime(h.creationTime));
  o.Raw("access_time", JsonTime(h.accessTime));
  o.Raw("write_time", JsonTime(h.writeTime));
  o.Number("file_size", h.fileSize);
  o.Text("relative_path", view.relativePath);
  o.Text("environment_target", view.environmentTarget);
  if (view.hasItemList) {
    std::vector<string> items;
    for (const lnk::Item& item : view.itemList.items) {
      JsonObject i;
      i.Raw("type", JsonString(Ascii(item.kind)));
      i.Raw("class", JsonString(Ascii("0x" + HexDigits(item.type, 2))));
      i.Text("name", item.name.empty() ? std::nullopt : std::optional<u16string>(item.name));
      i.Text("short_name", item.shortName.empty() ? std::nullopt : std::optional<u16string>(item.shortName));
      i.Text("guid", item.guid.empty() ? std::nullopt : std::optional<u16string>(Ascii(item.guid)));
      items.push_back(i.Close());
    }
    JsonObject list;
    list.Text("path", view.itemList.path);
    list.Raw("items", JsonList(items));
    o.Raw("item_list", list.Close());
  } else {
    o.Raw("item_list", "null");
  }
  if (view.hasLinkInfo) {
    const lnk::LinkInfoView& li = view.linkInfo;
    auto stored = [](const u16string& s) { return s.empty() ? std::nullopt : std::optional<u16string>(s); };
    JsonObject info;
    info.Text("local_path", stored(li.localPath));
    info.Text("network_share", stored(li.networkShare));
    info.Text("path_suffix", stored(li.pathSuffix));
    info.Raw("drive_type", li.volume ? std::to_string(li.driveType) : "null");
    info.Raw("drive_serial", li.volume ? std::to_string(li.driveSerial) : "null");
    info.Text("volume_label", li.volume ? std::optional<u16string>(li.volumeLabel) : std::nullopt);
    o.Raw("link_info", info.Close());
  } else {
    o.Raw("link_info", "null");
  }
  std::vector<string> blocks;
  for (std::size_t i = 0; i < view.blocks.size(); ++i) blocks.push_back(JsonBlock(link, i, view.blocks[i]));
  o.Raw("extra_blocks", JsonList(blocks));
  std::vector<string> warnings(view.warnings.size());
  std::transform(view.warnings.begin(), view.warnings.end(), warnings.begin(),
                 [](const string& w) { return JsonString(Ascii(w)); });
  o.Raw("warnings", JsonList(warnings));
  return Ascii(o.Close());
}

std::u16string JsonErrorLine(u16string_view file, u16string_view error) {
  JsonObject o;
  o.Text("file", u16string(file));
  o.Text("error", u16string(error));
  return Ascii(o.Close());
}

// ---- the command line ------------------------------------------------------------

namespace {

// A path for the line: in double quotes when it holds a space, as the
// splitting takes it.
u16string QuotedPath(u16string_view path) {
  return path.find(u' ') == u16string_view::npos ? u16string(path) : u"\"" + u16string(path) + u"\"";
}

// An option's value: in double quotes when it holds a space or a double
// quote (or is empty), each double quote in it doubled.
u16string QuotedValue(u16string_view value) {
  if (!value.empty() && value.find_first_of(u" \"") == u16string_view::npos) return u16string(value);
  u16string out = u"\"";
  for (const char16_t c : value) {
    out += c;
    if (c == u'"') out += u'"';
  }
  return out + u"\"";
}

}  // namespace

std::vector<u16string> CommandLines(u16string_view linkPath, const Link& link, const LinkView& view, bool targetHere) {
  std::vector<u16string> lines;
  auto warn = [&lines](const string& text) { lines.push_back(u"warning: " + Ascii(text)); };
  if (!view.target || view.target->empty()) {
    return {u"Error: \"" + Shown(linkPath) + u"\" names no target path that a command line can give."};
  }
  const lnk::Header& h = link.header;
  // mklnk always adds ".lnk" to the link's name.
  u16string_view name = linkPath;
  const bool lnk = name.size() > 4 && platform::UpperCase(name.substr(name.size() - 4)) == u".LNK";
  if (lnk) {
    name.remove_suffix(4);
  } else {
    warn("the link's name does not end in .lnk, which mklnk adds to the name it is given");
  }
  u16string line = QuotedPath(name) + u" " + QuotedPath(*view.target);
  // Text the line cannot carry: the splitting takes a "/" in a path as an
  // option, /showargs anywhere makes it echo, and a line holds no break.
  auto check = [&](const char* what, u16string_view text, bool path) {
    if (path && text.find(u'/') != u16string_view::npos) warn(string("the ") + what + " holds a /, which the line cannot carry");
    if (text.find(u"/showargs") != u16string_view::npos) warn(string("the ") + what + " holds /showargs, which makes the line echo");
    if (text.find_first_of(u"\r\n") != u16string_view::npos) warn(string("the ") + what + " holds a line break");
  };
  check("link path", linkPath, true);
  check("target", *view.target, true);
  auto option = [&](const char* word, const std::optional<u16string>& value, const char* what) {
    if (!value || value->empty()) return;
    check(what, *value, false);
    line += u" /" + Ascii(word) + u":" + QuotedValue(*value);
  };
  option("ARGS", view.arguments, "arguments");
  option("WORKDIR", view.workingDir, "working directory");
  option("DESC", view.description, "description");
  if (const std::optional<u16string>& icon = view.iconLocation; icon && !icon->empty()) {
    check("icon location", *icon, false);
    line += u" /ICON:" + QuotedValue(*icon + u"," + Decimal(h.iconIndex));
  } else if (h.iconIndex != 0) {
    warn("the icon index " + std::to_string(h.iconIndex) + " has no icon file to go with");
  }
  if (h.showCommand != kShowNormal) {
    const u16string_view word = ShowWord(h.showCommand);
    if (word.empty()) {
      warn("the show command " + std::to_string(h.showCommand) + " has no /SHOW: word");
    } else {
      line += u" /SHOW:" + u16string(word);
    }
  }
  if (h.hotKey != 0) {
    const u16string words = HotKeyWords(h.hotKey);
    if (words.empty()) {
      warn("the hot key 0x" + HexDigits(h.hotKey, 4) + " has no /HOTKEY: spelling");
    } else {
      line += u" /HOTKEY:" + words;
    }
  }
  if (h.linkFlags & lnk::kRunAsUser) line += u" /ADMIN";
  if (view.appId && !view.appId->empty()) {
    check("AppUserModelID", *view.appId, false);
    if (view.appId->size() > 128 || view.appId->find(u' ') != u16string::npos) {
      warn("the AppUserModelID has a space or more than 128 characters, which /APPID: does not take");
    }
    line += u" /APPID:" + QuotedValue(*view.appId);
  }
  if (!targetHere) {
    if (view.targetIsFolder) {
      line += *view.targetIsFolder ? u" /TYPE:folder" : u" /TYPE:file";
    } else {
      warn("the target is not here and the link does not say whether it is a file or a folder; /TYPE:file is a "
           "guess");
      line += u" /TYPE:file";
    }
  }
  for (const BlockView& b : view.blocks) {
    if (b.signature == lnk::signature::kEnvironment || b.signature == lnk::signature::kIconEnvironment) continue;
    // A property store that holds the AppUserModelID alone is what /APPID: makes.
    if (b.signature == lnk::signature::kPropertyStore && b.fields.size() == 1 &&
        b.fields[0].key == "System.AppUserModel.ID") {
      continue;
    }
    warn("the line cannot carry the " + b.name + " block (" + Signature(b.signature) + ")");
  }
  lines.push_back(std::move(line));
  return lines;
}

// ---- the run ---------------------------------------------------------------------

std::vector<u16string> ReadOperands(u16string_view raw) {
  std::vector<u16string> words;
  u16string word;
  bool inWord = false, quoted = false;
  for (const char16_t c : raw) {
    if (c == u'"') {
      quoted = !quoted;
      inWord = true;
    } else if (c == u' ' && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

int RunRead(const std::vector<u16string>& files, ReadOutput output) {
  int status = 0;
  std::string bytes;
  lnk::Link link;
  bool firstText = true;
  for (const u16string& file : files) {
    bool cut = false;
    const platform::FileRead got = platform::ReadWholeFile(file, kMostRead, bytes, cut);
    u16string error;
    if (got == platform::FileRead::kNotFound) {
      error = u"not found";
    } else if (got == platform::FileRead::kFolder) {
      error = u"is a folder";
    } else if (got == platform::FileRead::kNotAFile) {
      error = u"is not a file";
    } else if (got == platform::FileRead::kFailed) {
      error = u"cannot be read: " + platform::ErrorMessage(platform::GetLastError());
      while (!error.empty() && (error.back() == u'.' || error.back() == u'\n' || error.back() == u'\r')) error.pop_back();
    } else if (lnk::ReadLink(bytes, link) != lnk::ReadStatus::kLink) {
      error = u"is not a shell link";
    }
    if (!error.empty()) {
      status = kExitFailed;
      console::ConsoleWriteLine(output == ReadOutput::kJson ? JsonErrorLine(file, error)
                                                            : u"Error: \"" + Shown(file) + u"\" " + error + u".");
      continue;
    }
    LinkView view = lnk::Describe(link);
    if (cut) view.warnings.push_back("the file is larger than 16 MiB; only its first 16 MiB were read");
    switch (output) {
      case ReadOutput::kText:
        if (!firstText) console::ConsoleWriteLine(u"");
        firstText = false;
        for (const u16string& line : TextLines(file, link, view)) console::ConsoleWriteLine(line);
        break;
      case ReadOutput::kJson:
        console::ConsoleWriteLine(JsonLine(file, link, view));
        break;
      case ReadOutput::kCommand: {
        bool here = true;
        if (view.target) {
          const u16string& target = *view.target;
          const u16string looked = fs::IsEnvironmentPath(target) ? platform::ExpandVariables(target) : target;
          here = fs::FolderExists(looked) || fs::FileExists(looked);
        }
        const u16string full = fs::FullPath(file);
        const std::vector<u16string> lines = CommandLines(full.empty() ? file : full, link, view, here);
        if (lines.back().starts_with(u"Error: ")) status = kExitFailed;
        for (const u16string& line : lines) console::ConsoleWriteLine(line);
        break;
      }
    }
  }
  return status;
}

int RunReadMode(const OptionReader& options, const std::vector<u16string>& files) {
  if (options.makesLink()) {
    console::ConsoleWriteLine(console::ErrorLine(u"the options that say what a link holds cannot go with /READ (--read)"));
    return kExitUsage;
  }
  if (files.empty()) {
    console::ConsoleWriteLine(console::ErrorLine(u"/READ (--read) takes the link files to read"));
    return kExitUsage;
  }
  const ReadMode mode = options.options().read;
  return RunRead(files, mode == ReadMode::kJson      ? ReadOutput::kJson
                        : mode == ReadMode::kCommand ? ReadOutput::kCommand
                                                     : ReadOutput::kText);
}

}  // namespace mklnk::cli
