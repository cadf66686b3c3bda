// The link editor (see editor.h).  This file is divided into: paths and
// their replacement; the target's forms read from their sections (the
// LinkInfo, the item list, the environment blocks); the sections written
// anew; the editor, field by field.
#include "lnk/editor.h"

#include <algorithm>
#include <utility>

#include "common/text.h"
#include "lnk/builder.h"
#include "lnk/bytes.h"
#include "lnk/link.h"
#include "lnk/propstore.h"

namespace lnk {

using mklnk::text::Decimal;
namespace {

// ---- paths -------------------------------------------------------------------

// The path with `change.from` replaced by `change.to`, when it begins with
// it at a name boundary in any letter case; nothing otherwise.
std::optional<std::u16string> Replaced(std::u16string_view path, const PathChange& change,
                                       const std::u16string* foldedFrom = nullptr) {
  const std::u16string_view from = change.from;
  if (from.empty() || path.size() < from.size()) return std::nullopt;
  // Letters that differ in case alone fold alike; anything else that
  // differs differs folded too (the first character as a quick test).
  const auto ascii = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  if (path[0] < 0x80 && from[0] < 0x80 && ascii(path[0]) != ascii(from[0])) return std::nullopt;
  if (change.fold(path.substr(0, from.size())) != (foldedFrom ? *foldedFrom : change.fold(from))) return std::nullopt;
  std::u16string_view rest = path.substr(from.size());
  if (!rest.empty() && from.back() != u'\\' && rest.front() != u'\\') return std::nullopt;
  while (!rest.empty() && rest.front() == u'\\') rest.remove_prefix(1);
  std::u16string out = change.to;
  if (!rest.empty()) {
    if (out.back() != u'\\') out += u'\\';
    out += rest;
  }
  return out;
}

bool Holds(std::u16string_view text, const PathChange& change) {
  return change.fold(text).find(change.fold(change.from)) != std::u16string::npos;
}

std::u16string Join(std::u16string_view folder, std::u16string_view name) {
  std::u16string out(folder);
  if (!out.empty() && out.back() != u'\\') out += u'\\';
  out += name;
  return out;
}

// Where a full path's names begin: after "C:\" or "\\server\share\".
std::size_t RootLength(std::u16string_view path) {
  if (path.size() >= 2 && path[1] == u':') return path.size() >= 3 && path[2] == u'\\' ? 3 : 2;
  if (!path.starts_with(u"\\\\")) return 0;
  const std::size_t server = path.find(u'\\', 2);
  if (server == std::u16string_view::npos) return path.size();
  const std::size_t share = path.find(u'\\', server + 1);
  return share == std::u16string_view::npos ? path.size() : share + 1;
}

std::vector<std::u16string_view> Names(std::u16string_view path) {
  std::vector<std::u16string_view> names;
  while (!path.empty()) {
    const std::size_t end = std::min(path.find(u'\\'), path.size());
    if (end > 0 && path.substr(0, end) != u".") names.push_back(path.substr(0, end));
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return names;
}

// A relative path resolved against the link's folder: ".." and "." gone.
std::u16string Resolve(std::u16string_view folder, std::u16string_view relative) {
  const std::size_t root = RootLength(folder);
  if (root == 0) return {};
  std::vector<std::u16string_view> names = Names(folder.substr(root));
  for (const std::u16string_view name : Names(relative)) {
    if (name != u"..") {
      names.push_back(name);
    } else if (!names.empty()) {
      names.pop_back();
    }
  }
  std::u16string out(folder.substr(0, root));
  if (out.back() != u'\\') out += u'\\';
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += u'\\';
    out += names[i];
  }
  return out;
}

// The way from the link's folder to a path, as a new link stores it
// (".\name", "..\dir\name"); "" when they lie under different roots.
std::u16string RelativeTo(std::u16string_view folder, std::u16string_view path, FoldCase fold) {
  const std::size_t root = RootLength(folder);
  if (root == 0 || RootLength(path) == 0 || fold(folder.substr(0, root)) != fold(path.substr(0, RootLength(path)))) {
    return {};
  }
  const auto from = Names(folder.substr(root));
  const auto to = Names(path.substr(RootLength(path)));
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && fold(from[common]) == fold(to[common])) ++common;
  if (common == to.size() && common == from.size()) return {};
  std::u16string rel = common == from.size() ? u"." : u"";
  for (std::size_t i = common; i < from.size(); ++i) rel += rel.empty() ? u".." : u"\\..";
  for (std::size_t i = common; i < to.size(); ++i) {
    rel += u'\\';
    rel += to[i];
  }
  return rel;
}

// ---- the target's forms ---------------------------------------------------------

// A NUL-terminated string at `at`; nothing when it runs past the end.
std::optional<std::u16string> AnsiAt(std::string_view bytes, std::size_t at) {
  if (at >= bytes.size()) return std::nullopt;
  const std::size_t nul = bytes.find('\0', at);
  if (nul == std::string_view::npos) return std::nullopt;
  return FromWindows1252(bytes.substr(at, nul - at));
}
std::optional<std::u16string> UnicodeAt(std::string_view bytes, std::size_t at) {
  std::u16string text;
  for (std::size_t i = at; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(LittleEndianAt(bytes, i, 2));
    if (c == 0) return text;
    text += c;
  }
  return std::nullopt;
}

// What a LinkInfo says of the target: a local path on a volume, or a
// network share and the path below it.
struct LinkInfoView {
  bool local = false, network = false;
  std::string volumeId;  // the VolumeID's bytes, for a local path
  std::u16string path;   // the whole path
};

std::optional<LinkInfoView> ReadLinkInfo(std::string_view b) {
  ByteReader in(b);
  const std::uint32_t size = in.U32(), headerSize = in.U32(), flags = in.U32(), volumeOffset = in.U32(),
                      baseOffset = in.U32(), netOffset = in.U32(), suffixOffset = in.U32();
  if (!in.ok() || size != b.size() || headerSize < 0x1C || headerSize > size) return std::nullopt;
  const bool unicode = headerSize >= 0x24;
  const std::uint32_t baseUnicode = unicode ? in.U32() : 0, suffixUnicode = unicode ? in.U32() : 0;
  if (!in.ok()) return std::nullopt;
  LinkInfoView view;
  std::optional<std::u16string> suffix = suffixUnicode != 0 ? UnicodeAt(b, suffixUnicode) : AnsiAt(b, suffixOffset);
  if (!suffix) return std::nullopt;
  if (flags & 1) {
    const std::uint32_t volumeSize = LittleEndianAt(b, volumeOffset, 4);
    std::optional<std::u16string> base = baseUnicode != 0 ? UnicodeAt(b, baseUnicode) : AnsiAt(b, baseOffset);
    if (!base || volumeOffset >= b.size() || volumeSize < 16 || volumeSize > b.size() - volumeOffset) return std::nullopt;
    view.local = true;
    view.volumeId.assign(b.substr(volumeOffset, volumeSize));
    view.path = suffix->empty() ? *base : Join(*base, *suffix);
  } else if (flags & 2) {
    if (netOffset >= b.size()) return std::nullopt;
    const std::string_view net = b.substr(netOffset);
    const std::uint32_t netNameOffset = LittleEndianAt(net, 8, 4);
    const std::uint32_t netNameUnicode = netNameOffset > 0x14 ? LittleEndianAt(net, 20, 4) : 0;
    std::optional<std::u16string> name = netNameUnicode != 0 ? UnicodeAt(net, netNameUnicode) : AnsiAt(net, netNameOffset);
    if (!name || net.size() < 20) return std::nullopt;
    view.network = true;
    view.path = suffix->empty() ? *name : Join(*name, *suffix);
  } else {
    return std::nullopt;
  }
  return view;
}

// The CLSIDs of the item lists' roots, as stored.
constexpr std::string_view kMyComputer("\xE0\x4F\xD0\x20\xEA\x3A\x69\x10\xA2\xD8\x08\x00\x2B\x30\x30\x9D", 16);
constexpr std::string_view kNetworkPlaces("\x60\x2C\x8D\x20\xEA\x3A\x69\x10\xA2\xD7\x08\x00\x2B\x30\x30\x9D", 16);
constexpr std::string_view kNetwork("\x0D\x1A\x2C\xF0\x21\xBE\x50\x43\x88\xB0\x73\x67\xFC\x96\xEF\x3C", 16);

// One item of an item list that is part of a path.
struct PathItem {
  enum class Kind { kComputer, kNetwork, kDrive, kShare, kEntry } kind;
  std::size_t begin = 0, end = 0;  // its bytes in the list
  std::u16string path;             // the path up to and with it
  bool folder = true;
};

// The long name of a file entry item: from its extension block
// (0xBEEF0004), else its primary name.
std::optional<std::u16string> EntryName(std::string_view item) {
  const std::size_t size = item.size();
  if (size >= 16 + 2) {
    const std::size_t ext = LittleEndianAt(item, size - 2, 2);
    if (ext >= 14 && ext + 8 <= size - 2 && LittleEndianAt(item, ext + 4, 4) == 0xBEEF0004) {
      const std::size_t version = LittleEndianAt(item, ext + 2, 2);
      const std::size_t at = version >= 9 ? 46 : version == 8 ? 42 : version == 7 ? 38 : version >= 3 ? 20 : 0;
      if (at != 0 && ext + at < size - 2) {
        if (auto name = UnicodeAt(item.substr(0, size - 2), ext + at); name && !name->empty()) return name;
      }
    }
  }
  if (size < 15) return std::nullopt;
  return (item[2] & 0x04) != 0 ? UnicodeAt(item, 14) : AnsiAt(item, 14);
}

// The items of a list (without its size field) that name a path, from
// its root on; the walk stops at the first item that does not.
std::vector<PathItem> WalkItems(std::string_view list) {
  std::vector<PathItem> items;
  std::size_t at = 0;
  while (at + 2 <= list.size()) {
    const std::size_t size = LittleEndianAt(list, at, 2);
    if (size < 3 || size > list.size() - at) break;
    const std::string_view item = list.substr(at, size);
    const unsigned char type = static_cast<unsigned char>(item[2]);
    PathItem p{PathItem::Kind::kEntry, at, at + size, {}, true};
    const std::u16string before = items.empty() ? std::u16string() : items.back().path;
    const PathItem::Kind last = items.empty() ? PathItem::Kind::kEntry : items.back().kind;
    if (items.empty()) {
      if (type != 0x1F || size != 20) break;
      const std::string_view clsid = item.substr(4, 16);
      if (clsid == kMyComputer) {
        p.kind = PathItem::Kind::kComputer;
      } else if (clsid == kNetworkPlaces || clsid == kNetwork) {
        p.kind = PathItem::Kind::kNetwork;
      } else {
        break;
      }
    } else if (last == PathItem::Kind::kComputer && (type & 0x70) == 0x20) {
      const auto name = AnsiAt(item, 3);
      if (!name || name->size() < 2 || (*name)[1] != u':') break;
      p.kind = PathItem::Kind::kDrive;
      p.path = name->substr(0, 2) + u"\\";
    } else if ((last == PathItem::Kind::kNetwork || last == PathItem::Kind::kShare) && (type & 0x70) == 0x40) {
      // The network's parts: the whole network, a provider, a domain (no
      // path), a server ("\\server"), a share ("\\server\share").
      const auto name = size > 5 ? AnsiAt(item, 5) : std::nullopt;
      if (!name) break;
      p.kind = name->starts_with(u"\\\\") ? PathItem::Kind::kShare : PathItem::Kind::kNetwork;
      if (p.kind == PathItem::Kind::kShare) p.path = *name;
    } else if ((last == PathItem::Kind::kDrive || last == PathItem::Kind::kShare || last == PathItem::Kind::kEntry) &&
               (type & 0x70) == 0x30) {
      const auto name = EntryName(item);
      if (!name || name->empty()) break;
      p.path = Join(before, *name);
      p.folder = (type & 0x01) != 0;
    } else {
      break;
    }
    items.push_back(std::move(p));
    at += size;
  }
  return items;
}

// The path an item list leads to; "" when it names none.
std::u16string ItemListPath(std::string_view list) {
  const std::vector<PathItem> items = WalkItems(list);
  if (items.empty() || items.back().path.empty()) return {};
  // The walk must have reached the terminal item.
  const std::size_t end = items.back().end;
  return end + 2 <= list.size() && LittleEndianAt(list, end, 2) == 0 ? items.back().path : std::u16string();
}

const ExtraBlock* FindBlock(const Link& link, std::uint32_t signature) {
  const auto at = std::find_if(link.blocks.begin(), link.blocks.end(),
                               [signature](const ExtraBlock& block) { return block.signature == signature; });
  return at == link.blocks.end() ? nullptr : &*at;
}

constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kEnvironmentBlockSize = 8 + 3 * kMaxPath;

// The text of an environment block: the Unicode field, else the
// single-byte one.
std::u16string EnvironmentText(const ExtraBlock& block) {
  if (block.bytes.size() != kEnvironmentBlockSize) return {};
  const std::string_view b = block.bytes;
  std::u16string text = UnicodeAt(b.substr(0, 8 + 3 * kMaxPath), 8 + kMaxPath).value_or(u"");
  if (text.empty()) text = AnsiAt(b.substr(0, 8 + kMaxPath), 8).value_or(u"");
  return text;
}

// The target's path, as the link's forms give it: the LinkInfo's, the item
// list's, the environment block's.
std::u16string TargetPath(const Link& link) {
  if (!link.linkInfo.empty()) {
    if (const auto view = ReadLinkInfo(link.linkInfo)) return view->path;
  }
  if (link.idList.size() > 2) {
    if (std::u16string path = ItemListPath(std::string_view(link.idList).substr(2)); !path.empty()) return path;
  }
  if (const ExtraBlock* block = FindBlock(link, signature::kEnvironment)) return EnvironmentText(*block);
  return {};
}

// ---- sections written anew ------------------------------------------------------

void PutU16(std::string& out, std::size_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
}
void PutU32(std::string& out, std::size_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16 & 0xFFFF);
}

// An environment block (0xA0000001, 0xA0000007) as the builder writes one.
ExtraBlock EnvironmentBlock(std::uint32_t signature, std::u16string_view text) {
  if (text.size() >= kMaxPath || text.find(u'\0') != std::u16string_view::npos) {
    throw LinkDataError(LinkDataError::Kind::kTooLong, "a path with variables is too long for its block");
  }
  ExtraBlock block;
  block.signature = signature;
  PutU32(block.bytes, kEnvironmentBlockSize);
  PutU32(block.bytes, signature);
  block.bytes += ToWindows1252(text);
  block.bytes.append(kMaxPath - text.size(), '\0');
  for (const char16_t c : text) PutU16(block.bytes, c);
  block.bytes.append(2 * (kMaxPath - text.size()), '\0');
  return block;
}

bool IsPlainAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// A local path's LinkInfo with the VolumeID it had: the short header, the
// path single-byte (plain ASCII only, as the builder writes it).
std::string LocalLinkInfo(std::string_view volumeId, std::u16string_view path) {
  constexpr std::size_t kHeader = 0x1C;
  const std::size_t base = kHeader + volumeId.size(), suffix = base + path.size() + 1;
  std::string out;
  PutU32(out, suffix + 1);
  PutU32(out, kHeader);
  PutU32(out, 1);  // VolumeIDAndLocalBasePath
  PutU32(out, kHeader);
  PutU32(out, base);
  PutU32(out, 0);
  PutU32(out, suffix);
  out += volumeId;
  out += ToWindows1252(path);
  out.push_back('\0');
  out.push_back('\0');
  return out;
}

// A network item (a server's, a share's) with another location: its
// single-byte text, and the Unicode copy that follows where the item has
// one; its other bytes kept.
std::string ShareItem(std::string_view item, std::u16string_view from, std::u16string_view location) {
  const std::size_t nul = item.find('\0', 5);
  std::string out(item.substr(0, 5));
  out += ToWindows1252(location);
  std::string rest(item.substr(nul));
  std::string wide, wideFrom;
  for (const char16_t c : location) PutU16(wide, c);
  for (const char16_t c : from) PutU16(wideFrom, c);
  for (std::size_t at = 0; (at = rest.find(wideFrom + std::string(2, '\0'), at)) != std::string::npos;) {
    rest.replace(at, wideFrom.size(), wide);
    at += wide.size();
  }
  out += rest;
  if (out.size() > 0xFFFF) throw LinkDataError(LinkDataError::Kind::kTooLong, "the target path is too long for a shell link");
  out[0] = static_cast<char>(out.size() & 0xFF);
  out[1] = static_cast<char>(out.size() >> 8);
  return out;
}

// An item list (without its size field) whose path begins with the old
// path, that path's items made for the new one, the items below kept
// byte for byte.  Nothing when no path in it begins so; "" when the new
// path cannot be stored in this list's form (a share for a list of
// drives), and the list goes.
std::optional<std::string> ReplaceInItems(std::string_view list, const PathChange& change) {
  const std::vector<PathItem> items = WalkItems(list);
  std::size_t i = 0;
  std::optional<std::u16string> to;
  for (; i < items.size() && !to; ++i) {
    if (!items[i].path.empty()) to = Replaced(items[i].path, change);
  }
  if (!to) return std::nullopt;
  const PathItem& matched = items[--i];
  // The new path's items: its root, its drive or share, one per name.
  std::string out;
  std::vector<LinkItem> entries;
  const std::size_t root = RootLength(*to);
  for (const std::u16string_view name : Names(std::u16string_view(*to).substr(root))) {
    LinkItem entry;
    entry.name = name;
    entry.isFolder = true;
    entry.attributes = 0x10;
    entries.push_back(std::move(entry));
  }
  if (!entries.empty() && !matched.folder) {
    entries.back().isFolder = false;
    entries.back().attributes = 0;
  }
  if (to->size() >= 2 && (*to)[1] == u':') {
    out = BuildIdList((*to)[0], entries);
    out.resize(out.size() - 2);  // its terminal item: the rest of the list follows
  } else {
    // The network's items kept, its server's and share's given the new
    // ones' names; a list of a drive cannot hold a share.
    if (std::none_of(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                     [](const PathItem& p) { return p.kind == PathItem::Kind::kShare; })) {
      return std::string();
    }
    const std::u16string_view share = std::u16string_view(*to).substr(0, root - (root < to->size() ? 1 : 0));
    const std::u16string_view server = share.substr(0, share.find(u'\\', 2));
    for (std::size_t k = 0; k <= i; ++k) {
      const std::string_view bytes = list.substr(items[k].begin, items[k].end - items[k].begin);
      if (items[k].kind == PathItem::Kind::kShare) {
        const bool isServer = items[k].path.find(u'\\', 2) == std::u16string::npos;
        out += ShareItem(bytes, items[k].path, isServer ? server : share);
      } else if (items[k].kind != PathItem::Kind::kEntry) {
        out += bytes;
      }
    }
    for (std::size_t n = 0; n < entries.size(); ++n) {
      out += BuildFileEntryItem(entries[n], n + 1 < entries.size() || entries[n].isFolder);
    }
  }
  out += list.substr(matched.end);
  return out;
}

// The property storages that hold facts of a file (its size, times and
// attributes; its paths as the Shell shows them), which describe the old
// target alone.
constexpr FormatId kFileFacts[] = {
    {0x30, 0xF1, 0x25, 0xB7, 0xEF, 0x47, 0x1A, 0x10, 0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC},
    {0xA6, 0x6A, 0x63, 0x28, 0x3D, 0x95, 0xD2, 0x11, 0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0},
    {0x4C, 0x58, 0xE0, 0xE3, 0x88, 0xB7, 0x5A, 0x4A, 0xBB, 0x20, 0x7F, 0x5A, 0x44, 0xC9, 0xAC, 0xDD},
    {0xB1, 0x16, 0x6D, 0x44, 0xAD, 0x8D, 0x70, 0x48, 0xA7, 0x48, 0x40, 0x2E, 0xA4, 0x3D, 0x78, 0x8C},
};

// ---- the editor ---------------------------------------------------------------------

class Editor {
 public:
  Editor(Link& link, EditResult& result) : link_(link), result_(result) {}

  void SetString(StringId id, const std::u16string& text, const char16_t* field) {
    CountedString& s = link_.string(id);
    const std::u16string before = s.stored() ? s.text : std::u16string();
    if (text.empty()) {
      if (!s.stored()) return;
      s = CountedString();
      link_.header.linkFlags &= ~StringFlag(id);
    } else {
      if (text.size() > 0xFFFF) throw LinkDataError(LinkDataError::Kind::kTooLong, "a string is too long for a shell link");
      CountedString made = MakeCountedString(text, link_.unicode());
      if (made.bytes == s.bytes) return;
      s = std::move(made);
      link_.header.linkFlags |= StringFlag(id);
    }
    Note(field, before, text);
  }

  // The block of a signature: made, replaced or removed ("").
  void SetBlock(std::uint32_t signature, std::uint32_t flag, std::optional<ExtraBlock> block) {
    auto at = std::find_if(link_.blocks.begin(), link_.blocks.end(),
                           [signature](const ExtraBlock& b) { return b.signature == signature; });
    if (block) {
      link_.header.linkFlags |= flag;
      if (at != link_.blocks.end()) {
        *at = std::move(*block);
      } else {
        link_.blocks.insert(link_.blocks.begin(), std::move(*block));
      }
    } else {
      link_.header.linkFlags &= ~flag;
      if (at != link_.blocks.end()) link_.blocks.erase(at);
    }
  }

  void DropBlock(std::uint32_t signature) {
    std::erase_if(link_.blocks, [signature](const ExtraBlock& b) { return b.signature == signature; });
  }

  void SetFlag(std::uint32_t flag, bool on) {
    link_.header.linkFlags = on ? (link_.header.linkFlags | flag) : (link_.header.linkFlags & ~flag);
  }

  // A target whose stored forms changed, even where they name no path
  // (an item list that does not reach its end, say).
  void NoteTarget(std::u16string before, std::u16string after) {
    if (before == after) after = u"(its stored forms rewritten)";
    result_.changes.push_back({u"target", std::move(before), std::move(after)});
  }

  void Note(const char16_t* field, std::u16string before, std::u16string after) {
    if (before != after) result_.changes.push_back({field, std::move(before), std::move(after)});
  }

  // The blocks that describe the old target: its tracking, the special or
  // known folder it was in (whose offsets point into the old item list),
  // the item list Vista writes beside the other.
  // A dry run names each block that goes, with its size.
  void DropTargetBlocks() {
    static constexpr std::pair<std::uint32_t, const char16_t*> kBlocks[] = {
        {signature::kTracker, u"tracker block"},
        {signature::kSpecialFolder, u"special folder block"},
        {signature::kKnownFolder, u"known folder block"},
        {signature::kVistaIdList, u"Vista item list block"}};
    for (const auto& [signature, name] : kBlocks) {
      for (const ExtraBlock& block : link_.blocks) {
        if (block.signature == signature) Note(name, Decimal(static_cast<std::int64_t>(block.bytes.size())) + u" bytes", u"");
      }
      DropBlock(signature);
    }
  }

  // System.AppUserModel.ID set or replaced in the property store, or
  // removed by "" (with the block, when nothing else is left in it); every
  // other property and byte of the store kept.  A new block goes first
  // among the blocks, where Windows 10 writes it.  A store that cannot be
  // read to its end is refused: what lies past its fault could not be kept.
  void SetAppId(const std::u16string& id) {
    const auto at = std::find_if(link_.blocks.begin(), link_.blocks.end(),
                                 [](const ExtraBlock& b) { return b.signature == signature::kPropertyStore; });
    const bool has = at != link_.blocks.end() && at->bytes.size() >= 8;
    const std::string old = has ? at->bytes.substr(8) : std::string();
    const StoreEdit made = id.empty() ? RemoveProperty(old, kAppUserModelFormat, kAppUserModelId)
                                      : SetStringProperty(old, kAppUserModelFormat, kAppUserModelId, id);
    if (!made.ok) throw LinkDataError(LinkDataError::Kind::kInvalid, "its property store cannot be read: " + made.error);
    if (!made.changed) return;
    // The parsed store outlives the value found in it.
    const PropertyStore parsed = ParsePropertyStore(old);
    const std::u16string* before = FindStringProperty(parsed, kAppUserModelFormat, kAppUserModelId);
    result_.changes.push_back({u"app id", before ? *before : std::u16string(), id});
    if (made.empty) {
      link_.blocks.erase(at);
    } else if (has) {
      at->bytes = PropertyStoreBlock(made.store);
    } else {
      link_.blocks.insert(link_.blocks.begin(), ExtraBlock{PropertyStoreBlock(made.store), signature::kPropertyStore});
    }
  }

  // The property store's string values that `edit` answers a new value
  // for ("" removes the value; nothing keeps it), every other byte kept.
  // A store that cannot be read to its end is kept whole.
  template <typename Edit>
  void EditStore(Edit edit) {
    const auto at = std::find_if(link_.blocks.begin(), link_.blocks.end(),
                                 [](const ExtraBlock& b) { return b.signature == signature::kPropertyStore; });
    if (at == link_.blocks.end() || at->bytes.size() < 8) return;
    std::string store = at->bytes.substr(8);
    const PropertyStore parsed = ParsePropertyStore(store);
    if (!parsed.error.empty()) return;
    bool changed = false, empty = false;
    std::u16string olds, news;
    for (const PropertyStorage& storage : parsed.storages) {
      if (storage.stringNamed) continue;
      for (const StoredProperty& property : storage.properties) {
        const std::optional<std::u16string> value = edit(storage.formatId, property);
        if (!value) continue;
        const StoreEdit made = value->empty() ? RemoveProperty(store, storage.formatId, property.id)
                                              : SetStringProperty(store, storage.formatId, property.id, *value);
        if (!made.ok || !made.changed) continue;
        store = made.store;
        empty = made.empty;
        olds += (olds.empty() ? u"" : u", ") + property.text;
        news += (news.empty() ? u"" : u", ") + (value->empty() ? u"(removed)" : *value);
        changed = true;
      }
    }
    if (!changed) return;
    if (empty) {
      link_.blocks.erase(at);
    } else {
      at->bytes = PropertyStoreBlock(store);
    }
    result_.changes.push_back({u"property store", olds, news});
  }

  void Retarget(const std::string& made, FoldCase fold, const std::optional<std::u16string>& workingDirectory) {
    Link fresh;
    if (ReadLink(made, fresh) != ReadStatus::kLink || !fresh.warnings.empty()) {
      throw LinkDataError(LinkDataError::Kind::kInvalid, "the link made to the new target cannot be read");
    }
    const std::u16string before = TargetPath(link_), after = TargetPath(fresh);
    // The working directory follows the target where it was its folder.
    const CountedString& dir = link_.string(StringId::kWorkingDir);
    const std::size_t cut = before.rfind(u'\\');
    const auto bare = [](std::u16string_view path) {
      while (path.size() > 3 && path.back() == u'\\') path.remove_suffix(1);
      return path;
    };
    const bool followed = !workingDirectory && dir.stored() && cut != std::u16string::npos &&
                          fold(bare(dir.text)) == fold(bare(before.substr(0, cut + 1)));
    constexpr std::uint32_t kTargetFlags = kHasLinkTargetIdList | kHasLinkInfo | kHasRelativePath | kForceNoLinkInfo |
                                           kHasExpString | kPreferEnvironmentPath;
    Header& h = link_.header;
    h.linkFlags = (h.linkFlags & ~kTargetFlags) | (fresh.header.linkFlags & kTargetFlags);
    h.fileAttributes = fresh.header.fileAttributes;
    h.creationTime = fresh.header.creationTime;
    h.accessTime = fresh.header.accessTime;
    h.writeTime = fresh.header.writeTime;
    h.fileSize = fresh.header.fileSize;
    link_.idList = fresh.idList;
    link_.linkInfo = fresh.linkInfo;
    const CountedString& relative = fresh.string(StringId::kRelativePath);
    link_.string(StringId::kRelativePath) =
        relative.stored() ? MakeCountedString(relative.text, link_.unicode()) : CountedString();
    const ExtraBlock* environment = FindBlock(fresh, signature::kEnvironment);
    SetBlock(signature::kEnvironment, fresh.header.linkFlags & kHasExpString,
             environment ? std::optional<ExtraBlock>(*environment) : std::nullopt);
    DropTargetBlocks();
    // The property store's values that describe the old file: its storage
    // facts, its paths, and any path into its folder.
    const std::u16string oldFolder = cut == std::u16string::npos ? before : before.substr(0, cut);
    EditStore([&](const FormatId& format, const StoredProperty& property) -> std::optional<std::u16string> {
      const bool facts = std::find(std::begin(kFileFacts), std::end(kFileFacts), format) != std::end(kFileFacts);
      const bool path = property.type == kVtLpwstr && !oldFolder.empty() &&
                        Replaced(property.text, PathChange{oldFolder, oldFolder, fold});
      return facts || path ? std::optional<std::u16string>(u"") : std::nullopt;
    });
    NoteTarget(before, after);
    if (followed) SetString(StringId::kWorkingDir, fresh.string(StringId::kWorkingDir).text, u"working directory");
  }

  void Replace(const PathChange& change, const std::u16string& folder) {
    const std::u16string before = TargetPath(link_);
    bool target = false;
    // The LinkInfo: a local path on the same drive keeps its volume, a
    // share gets the network form; otherwise it goes, and the item list
    // or the environment block tells where the target is.
    if (!link_.linkInfo.empty()) {
      const std::optional<LinkInfoView> view = ReadLinkInfo(link_.linkInfo);
      if (const auto to = view ? Replaced(view->path, change) : std::nullopt) {
        target = true;
        const std::size_t root = RootLength(*to);
        if (to->starts_with(u"\\\\")) {
          const std::u16string share = to->substr(0, root < to->size() ? root - 1 : root);
          link_.linkInfo = BuildNetworkLinkInfo(change.fold(share), root < to->size() ? to->substr(root) : u"");
        } else if (view->local && IsPlainAscii(*to) && change.fold(view->path.substr(0, 2)) == change.fold(to->substr(0, 2))) {
          link_.linkInfo = LocalLinkInfo(view->volumeId, *to);
        } else {
          link_.linkInfo.clear();
          SetFlag(kHasLinkInfo, false);
        }
      }
    }
    if (link_.idList.size() > 2) {
      if (const auto list = ReplaceInItems(std::string_view(link_.idList).substr(2), change)) {
        target = true;
        if (list->empty()) {
          link_.idList.clear();
          SetFlag(kHasLinkTargetIdList, false);
        } else {
          if (list->size() > 0xFFFF) throw LinkDataError(LinkDataError::Kind::kTooLong, "the target path is too long for a shell link");
          link_.idList.clear();
          PutU16(link_.idList, list->size());
          link_.idList += *list;
        }
      }
    }
    for (const auto& [signature, flag] : {std::pair{signature::kEnvironment, kHasExpString}, {signature::kIconEnvironment, kHasExpIcon}}) {
      const ExtraBlock* block = FindBlock(link_, signature);
      if (const auto to = block ? Replaced(EnvironmentText(*block), change) : std::nullopt) {
        target = target || signature == signature::kEnvironment;
        if (signature == signature::kIconEnvironment) Note(u"icon location with variables", EnvironmentText(*block), *to);
        SetBlock(signature, flag, EnvironmentBlock(signature, *to));
      }
    }
    for (const auto& [id, field] : {std::pair{StringId::kWorkingDir, u"working directory"},
                                    {StringId::kIconLocation, u"icon location"}}) {
      const CountedString& s = link_.string(id);
      if (const auto to = s.stored() ? Replaced(s.text, change) : std::nullopt) SetString(id, *to, field);
    }
    // The relative path, made anew where it led to the old path.
    const CountedString& relative = link_.string(StringId::kRelativePath);
    if (relative.stored()) {
      const std::u16string resolved = Resolve(folder, relative.text);
      if (const auto to = resolved.empty() ? std::nullopt : Replaced(resolved, change)) {
        SetString(StringId::kRelativePath, RelativeTo(folder, *to, change.fold), u"relative path");
      }
    }
    EditStore([&](const FormatId&, const StoredProperty& property) -> std::optional<std::u16string> {
      return property.type == kVtLpwstr ? Replaced(property.text, change) : std::nullopt;
    });
    if (target) {
      DropTargetBlocks();
      NoteTarget(before, TargetPath(link_));
    }
    for (const auto& [id, field] : {std::pair{StringId::kArguments, u"arguments"}, {StringId::kDescription, u"description"}}) {
      if (link_.string(id).stored() && Holds(link_.string(id).text, change)) result_.textHolds.push_back(field);
    }
  }

 private:
  Link& link_;
  EditResult& result_;
};

}  // namespace

EditResult EditLink(std::string_view file, const LinkEdit& edit) {
  Link link;
  if (ReadLink(file, link) != ReadStatus::kLink) {
    throw LinkDataError(LinkDataError::Kind::kInvalid, "it is not a shell link");
  }
  if (!link.warnings.empty()) throw LinkDataError(LinkDataError::Kind::kInvalid, "it is damaged: " + link.warnings.front());
  EditResult result;
  Editor editor(link, result);
  Header& h = link.header;
  const Header old = h;
  if (edit.targetLink) editor.Retarget(*edit.targetLink, edit.fold, edit.workingDirectory);
  if (edit.replace) editor.Replace(*edit.replace, edit.linkFolder);
  if (edit.description) editor.SetString(StringId::kDescription, *edit.description, u"description");
  if (edit.workingDirectory) editor.SetString(StringId::kWorkingDir, *edit.workingDirectory, u"working directory");
  if (edit.arguments) editor.SetString(StringId::kArguments, *edit.arguments, u"arguments");
  if (edit.iconLocation) {
    const ExtraBlock* icon = FindBlock(link, signature::kIconEnvironment);
    editor.Note(u"icon location with variables", icon ? EnvironmentText(*icon) : u"", edit.iconEnvironment);
    editor.SetString(StringId::kIconLocation, *edit.iconLocation, u"icon location");
    h.iconIndex = edit.iconLocation->empty() ? 0 : edit.iconIndex;
    editor.SetBlock(signature::kIconEnvironment, kHasExpIcon,
                    edit.iconEnvironment.empty()
                        ? std::nullopt
                        : std::optional<ExtraBlock>(EnvironmentBlock(signature::kIconEnvironment, edit.iconEnvironment)));
  }
  if (edit.showCommand) h.showCommand = *edit.showCommand;
  if (edit.hotKey) h.hotKey = *edit.hotKey;
  if (edit.runAsUser) editor.SetFlag(kRunAsUser, *edit.runAsUser);
  if (edit.appId) editor.SetAppId(*edit.appId);
  editor.Note(u"icon index", Decimal(old.iconIndex), Decimal(h.iconIndex));
  editor.Note(u"show command", Decimal(old.showCommand), Decimal(h.showCommand));
  editor.Note(u"hot key", Decimal(old.hotKey), Decimal(h.hotKey));
  editor.Note(u"run as administrator", (old.linkFlags & kRunAsUser) ? u"yes" : u"no",
              (h.linkFlags & kRunAsUser) ? u"yes" : u"no");
  SetHeaderFields(h);
  result.bytes = WriteLink(link);
  // Bytes that change say so, even when no field's text does (a string
  // stored again without what followed its NUL, a block made anew).
  if (result.changes.empty() && result.bytes != file) result.changes.push_back({u"stored bytes", u"", u"(rewritten)"});
  return result;
}

}  // namespace lnk
