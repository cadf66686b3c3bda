// The .lnk builder (see builder.h).  This file is divided into: the
// little-endian writer; the fixed values of the format; the header, the
// item list, the LinkInfo, the counted strings and the extra data blocks;
// the single-byte text and the FAT times the items carry; the items
// themselves; the whole file.
#include "lnk/builder.h"

#include "lnk/link.h"
#include "lnk/propstore.h"

#include <algorithm>

namespace lnk {
namespace {

// ---- little-endian output ---------------------------------------------------

class ByteWriter {
 public:
  void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Bytes(std::string_view bytes) { out_.append(bytes); }
  void Zeros(std::size_t count) { out_.append(count, '\0'); }
  void Utf16(std::u16string_view text) {
    for (char16_t c : text) U16(static_cast<std::uint16_t>(c));
  }
  // Overwrites a 16-bit field written earlier (a size known only later).
  void PatchU16(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<char>(v & 0xFF);
    out_[at + 1] = static_cast<char>(v >> 8);
  }
  void PatchU32(std::size_t at, std::size_t v) {
    PatchU16(at, static_cast<std::uint16_t>(v));
    PatchU16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  std::size_t size() const { return out_.size(); }
  std::string& str() { return out_; }

 private:
  std::string out_;
};

// Every size in the item list is a 16-bit field; a value that does not fit
// would make Windows read a different (corrupt) list, so refuse it instead.
std::uint16_t Size16(std::size_t size, const char* what) {
  if (size > 0xFFFF) throw LinkDataError(LinkDataError::Kind::kTooLong, std::string(what) + " is too long for a shell link");
  return static_cast<std::uint16_t>(size);
}

// The NUL-terminated fields would silently cut a string at an inner NUL.
void RequireNoNul(std::u16string_view text, const char* what) {
  if (text.find(u'\0') != std::u16string_view::npos) {
    throw LinkDataError(LinkDataError::Kind::kInvalid, std::string(what) + " holds a NUL character");
  }
}

bool IsPlainAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

// ---- fixed values of the format ---------------------------------------------

// CLSID_MyComputer {20D04FE0-3AEA-1069-A2D8-08002B30309D} in its stored order.
constexpr unsigned char kMyComputerClsid[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                                0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

constexpr std::uint32_t kDriveFixed = 3;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr std::uint32_t kNetworkLinkAndPathSuffix = 0x02;
constexpr std::uint32_t kValidNetType = 0x02;
constexpr std::uint32_t kNetLanman = 0x00020000;  // WNNC_NET_LANMAN, as Windows writes for any share

constexpr std::size_t kMaxPath = 260;  // the environment blocks' fields, NUL included

constexpr std::uint8_t kClassRoot = 0x1F;
constexpr std::uint8_t kSortIndexMyComputer = 0x50;
constexpr std::uint8_t kClassDrive = 0x2F;
constexpr std::size_t kDriveItemSize = 25;
constexpr std::uint8_t kClassFolder = 0x31;
constexpr std::uint8_t kClassFile = 0x32;
constexpr std::uint32_t kExtensionSignature = 0xBEEF0004;
constexpr std::uint16_t kExtensionVersion = 3;
constexpr std::uint16_t kExtensionWindowsXp = 0x14;
constexpr std::uint16_t kAttrDirectory = 0x10;

// The path the link stores: a folder's trailing backslash goes, except the
// one of a drive root ("Z:\"), which is part of the root's name.
std::u16string_view StoredTargetPath(std::u16string_view path) {
  while (path.size() > 3 && path.back() == u'\\') path.remove_suffix(1);
  return path;
}

// Windows stores every path with its drive letter in upper case, however
// it was typed: z:\data as Z:\data.
std::u16string WithUpperDrive(std::u16string_view path) {
  std::u16string out(path);
  if (out.size() >= 2 && out[1] == u':' && out[0] >= u'a' && out[0] <= u'z') {
    out[0] = static_cast<char16_t>(out[0] - u'a' + u'A');
  }
  return out;
}

// The drive as Windows names it, in upper case.
char16_t DriveLetter(char16_t drive) {
  if (drive >= u'a' && drive <= u'z') drive = static_cast<char16_t>(drive - u'a' + u'A');
  if (drive < u'A' || drive > u'Z') throw LinkDataError(LinkDataError::Kind::kInvalid, "the drive is not a letter A to Z");
  return drive;
}

std::string DriveItem(char16_t drive) {
  ByteWriter w;
  w.U16(kDriveItemSize);
  w.U8(kClassDrive);
  w.U8(static_cast<std::uint8_t>(drive));
  w.Bytes(":\\");
  w.Zeros(kDriveItemSize - w.size());
  return std::move(w.str());
}

// The item list with its size.
std::string IdListSection(const LinkData& data) {
  const std::string list = BuildIdList(data.drive, data.items);
  ByteWriter w;
  w.U16(Size16(list.size(), "the target path"));
  w.Bytes(list);
  return std::move(w.str());
}

// Only for a path of plain ASCII (see BuildLink): the short header,
// without the Unicode offsets.
std::string LocalLinkInfo(const LinkData& data, std::u16string_view path) {
  constexpr std::uint32_t kLinkInfoHeaderSize = 0x1C;
  const std::string label = ToWindows1252(data.volumeLabel);
  const std::uint32_t volumeIdSize = 16 + static_cast<std::uint32_t>(label.size()) + 1;
  const std::uint32_t volumeIdOffset = kLinkInfoHeaderSize;
  const std::uint32_t basePathOffset = volumeIdOffset + volumeIdSize;
  const std::uint32_t suffixOffset = basePathOffset + static_cast<std::uint32_t>(path.size()) + 1;
  const std::uint32_t total = suffixOffset + 1;

  ByteWriter w;
  w.U32(total);
  w.U32(kLinkInfoHeaderSize);
  w.U32(kVolumeIdAndLocalBasePath);
  w.U32(volumeIdOffset);
  w.U32(basePathOffset);
  w.U32(0);  // no network share
  w.U32(suffixOffset);
  w.U32(volumeIdSize);
  w.U32(kDriveFixed);
  w.U32(data.driveSerial);
  w.U32(0x10);  // label right after the four fields
  w.Bytes(label);
  w.U8(0);
  w.Bytes(ToWindows1252(path));  // ASCII: the same bytes in every code page
  w.U8(0);
  w.U8(0);  // empty common path suffix
  if (w.size() != total) throw LinkDataError(LinkDataError::Kind::kInvalid, "LinkInfo size mismatch");
  return std::move(w.str());
}

// A NUL-terminated field, single-byte or UTF-16; the UTF-16 one on an even
// offset (after a zero byte if need be), as Windows places it, and answers
// where it starts.
void PutAnsi(ByteWriter& w, std::u16string_view text) {
  w.Bytes(ToWindows1252(text));
  w.U8(0);
}
std::size_t PutUnicode(ByteWriter& w, std::u16string_view text) {
  if (w.size() % 2 != 0) w.U8(0);
  const std::size_t at = w.size();
  w.Utf16(text);
  w.U16(0);
  return at;
}

// A network target: the share (CommonNetworkRelativeLink) and the path
// below it, no VolumeID, as Windows stores a link to \\server\share\file,
// the share's name in upper case.  The single-byte fields are read in the
// reader's code page, so when the share or the path is not plain ASCII the
// Unicode copies follow them, in the longer headers (LinkInfo header size
// 0x24, NetNameOffset 0x1C).  Windows adds them only when its own code page
// cannot hold the text, but the reader's code page may be another: this is
// the test of the local path, whose LinkInfo is left out for such a path.
std::string NetworkLinkInfo(const LinkData& data) {
  const std::u16string net = data.netName;
  const bool unicode = !IsPlainAscii(net) || !IsPlainAscii(data.pathSuffix);
  const std::uint32_t headerSize = unicode ? 0x24 : 0x1C;

  ByteWriter link;  // the CommonNetworkRelativeLink
  link.U32(0);      // size, set below
  link.U32(kValidNetType);
  link.U32(unicode ? 0x1C : 0x14);  // NetNameOffset
  link.U32(0);                      // no device
  link.U32(kNetLanman);
  if (unicode) link.Zeros(8);  // NetNameOffsetUnicode (set below), no device
  PutAnsi(link, net);
  if (unicode) link.PatchU32(0x14, PutUnicode(link, net));
  link.PatchU32(0, link.size());

  ByteWriter info;
  info.U32(0);  // size, set below
  info.U32(headerSize);
  info.U32(kNetworkLinkAndPathSuffix);
  info.U32(0);  // no VolumeID
  info.U32(0);  // no local base path
  info.U32(headerSize);
  info.U32(static_cast<std::uint32_t>(headerSize + link.size()));
  if (unicode) info.Zeros(8);  // no Unicode local base path; the suffix's, set below
  info.Bytes(link.str());
  PutAnsi(info, data.pathSuffix);
  if (unicode) info.PatchU32(0x20, PutUnicode(info, data.pathSuffix));
  info.PatchU32(0, info.size());
  return std::move(info.str());
}

// EnvironmentVariableDataBlock and IconEnvironmentDataBlock: the text in
// two fixed fields of MAX_PATH, single-byte and UTF-16, zero-filled as
// Windows since Vista fills them.
ExtraBlock EnvironmentBlock(std::uint32_t signature, std::u16string_view text) {
  ByteWriter w;
  w.U32(static_cast<std::uint32_t>(8 + 3 * kMaxPath));
  w.U32(signature);
  w.Bytes(ToWindows1252(text));  // one byte per UTF-16 unit
  w.Zeros(kMaxPath - text.size());
  w.Utf16(text);
  w.Zeros(2 * (kMaxPath - text.size()));
  return {std::move(w.str()), signature};
}

// What an environment block can hold: up to MAX_PATH - 1 units and a NUL.
void RequireEnvironmentText(std::u16string_view text, const char* what) {
  RequireNoNul(text, what);
  if (text.size() >= kMaxPath) throw LinkDataError(LinkDataError::Kind::kTooLong, std::string(what) + " is too long for a shell link");
}

}  // namespace

std::string ToWindows1252(std::u16string_view text) {
  // Windows-1252 differs from Latin-1 only in 0x80-0x9F.  Index: byte - 0x80;
  // 0 marks the five bytes the code page leaves undefined, which Windows
  // maps to and from the C1 controls of the same value.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c <= 0x9F) {  // 0x80 and up: the C1 range
      out.push_back(kHigh[c - 0x80] == 0 ? static_cast<char>(c) : '?');
      continue;
    }
    char mapped = '?';
    for (unsigned b = 0; b < 32; ++b) {
      if (kHigh[b] == c) {
        mapped = static_cast<char>(0x80 + b);
        break;
      }
    }
    // One '?' for every UTF-16 unit, a surrogate pair's two included, as
    // Windows converts the path it stores.
    out.push_back(mapped);
  }
  return out;
}

std::uint32_t ToDosDateTime(std::uint64_t filetime) {
  if (filetime == 0) return 0;
  const std::uint64_t secondsSince1601 = filetime / 10'000'000u;
  constexpr std::uint64_t kSeconds1601To1970 = 11'644'473'600u;
  if (secondsSince1601 < kSeconds1601To1970) return 0;  // before 1980 anyway
  const std::uint64_t unixSeconds = secondsSince1601 - kSeconds1601To1970;
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(static_cast<std::int64_t>(unixSeconds / 86400), year, month, day);
  if (year < 1980 || year > 2107) return 0;
  const unsigned secs = static_cast<unsigned>(unixSeconds % 86400);
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time = ((secs / 3600) << 11) | (((secs / 60) % 60) << 5) | ((secs % 60) / 2);
  return date | (time << 16);
}

// Every item is of class 0x31 (folder) or 0x32 (file), whatever its name
// holds.  Windows writes 0x35/0x36 for a name outside the code page, but
// takes the long name from the extension block of a 0x31/0x32 item just as
// well, and Wine 8 reads no 0x35/0x36 item at all.
std::string BuildFileEntryItem(const LinkItem& item, bool asFolder) {
  RequireNoNul(item.name, "a path component");
  if (item.name.empty()) throw LinkDataError(LinkDataError::Kind::kInvalid, "a path component is empty");

  ByteWriter w;
  w.U16(0);  // size, set below
  w.U8(asFolder ? kClassFolder : kClassFile);
  w.U8(0);
  w.U32(asFolder ? 0 : item.fileSize);
  w.U32(ToDosDateTime(item.writeTime));
  w.U16(static_cast<std::uint16_t>((item.attributes & 0xFFFF) | (asFolder ? kAttrDirectory : 0)));
  // The primary name.  Windows puts the 8.3 name here; Linux file systems
  // have none, so it is the long name in the single-byte code page.  For a
  // name that is already a valid 8.3 name that is exactly what Windows
  // stores, and for any other name Windows finds the item by the long name
  // of the extension block below, which it prefers.
  w.Bytes(ToWindows1252(item.name));
  w.U8(0);
  if (w.size() % 2 != 0) w.U8(0);  // the extension block starts on an even offset

  // Extension block 0xBEEF0004, version 3 (the Windows XP form): the
  // creation and access times and the exact long name.
  const std::size_t blockStart = w.size();
  const std::size_t blockSize = 2 + 2 + 4 + 4 + 4 + 2 + 2 + 2 * (item.name.size() + 1) + 2;
  w.U16(Size16(blockSize, "a path component"));
  w.U16(kExtensionVersion);
  w.U32(kExtensionSignature);
  w.U32(ToDosDateTime(item.creationTime));
  w.U32(ToDosDateTime(item.accessTime));
  w.U16(kExtensionWindowsXp);
  w.U16(0);  // no localized name
  w.Utf16(item.name);
  w.U16(0);
  w.U16(static_cast<std::uint16_t>(blockStart));  // where the first block starts
  if (w.size() - blockStart != blockSize) throw LinkDataError(LinkDataError::Kind::kInvalid, "extension block size mismatch");

  w.PatchU16(0, Size16(w.size(), "a path component"));
  return std::move(w.str());
}

std::string BuildIdList(char16_t drive, const std::vector<LinkItem>& items) {
  ByteWriter list;
  list.U16(20);
  list.U8(kClassRoot);
  list.U8(kSortIndexMyComputer);
  list.Bytes(std::string_view(reinterpret_cast<const char*>(kMyComputerClsid), sizeof kMyComputerClsid));
  list.Bytes(DriveItem(DriveLetter(drive)));
  for (std::size_t i = 0; i < items.size(); ++i) {
    // Only the target itself may be a file: everything on the way to it is a
    // folder, whatever the caller says.  Windows refuses a link whose path
    // runs through a "file".
    const bool last = i + 1 == items.size();
    list.Bytes(BuildFileEntryItem(items[i], !last || items[i].isFolder));
  }
  list.U16(0);  // terminal item
  // The link stores the list's size in 16 bits: a longer list fits no link.
  Size16(list.size(), "the target path");
  return std::move(list.str());
}

std::string BuildNetworkLinkInfo(std::u16string_view netName, std::u16string_view pathSuffix) {
  RequireNoNul(netName, "the network share");
  RequireNoNul(pathSuffix, "the path on the network share");
  if (netName.empty()) throw LinkDataError(LinkDataError::Kind::kInvalid, "the network share is empty");
  LinkData data;
  data.netName = netName;
  data.pathSuffix = pathSuffix;
  return NetworkLinkInfo(data);
}

void SetProperties(LinkData& data, const Properties& properties, std::u16string_view iconHere) {
  static_cast<Properties&>(data) = properties;
  if (iconHere != properties.iconLocation && iconHere.find(u'%') == std::u16string_view::npos) {
    data.iconLocation = iconHere;
    data.environmentIcon = properties.iconLocation;
  }
}

Link BuildLink(const LinkData& data) {
  RequireNoNul(data.targetPath, "the target path");
  RequireNoNul(data.volumeLabel, "the volume label");
  RequireEnvironmentText(data.environmentTarget, "the target with variables");
  RequireEnvironmentText(data.environmentIcon, "the icon location with variables");
  const bool network = data.location == LinkData::Location::kNetwork;
  if (network) {
    RequireNoNul(data.netName, "the network share");
    RequireNoNul(data.pathSuffix, "the path on the network share");
    if (data.netName.empty()) throw LinkDataError(LinkDataError::Kind::kInvalid, "the network share is empty");
  }
  const std::u16string path = WithUpperDrive(StoredTargetPath(data.targetPath));
  const std::u16string workingDir = WithUpperDrive(data.workingDirectory);

  // The LinkInfo's local path is single-byte text, and every reader decodes
  // it in its own code page: Wine in that of its locale, taking it before
  // the Unicode copy that Windows adds and before the item list.  Only
  // ASCII reads the same in every code page, so a link to any other path
  // has no LinkInfo; readers then take the target from the item list,
  // whose long names are UTF-16 (Windows does, and Wine does), or from the
  // relative path.  The LinkInfo only helps find a target that has moved.
  // A link for another machine may have none (kNone), or the network
  // share's (kNetwork), and may go without the item list.
  const bool localInfo = data.location == LinkData::Location::kLocal && IsPlainAscii(path);
  std::uint32_t flags = kIsUnicode;
  if (data.idList) flags |= kHasLinkTargetIdList;
  if (localInfo || network) flags |= kHasLinkInfo;
  if (!data.description.empty()) flags |= kHasName;
  if (!data.relativePath.empty()) flags |= kHasRelativePath;
  if (!data.workingDirectory.empty()) flags |= kHasWorkingDir;
  if (!data.arguments.empty()) flags |= kHasArguments;
  if (!data.iconLocation.empty()) flags |= kHasIconLocation;
  if (data.forceNoLinkInfo) flags |= kForceNoLinkInfo;
  if (!data.environmentTarget.empty()) flags |= kHasExpString;
  if (data.runAsAdministrator) flags |= kRunAsUser;
  if (!data.environmentIcon.empty()) flags |= kHasExpIcon;
  if (data.preferEnvironmentPath) flags |= kPreferEnvironmentPath;

  Link link;
  Header& h = link.header;
  h.linkFlags = flags;
  h.fileAttributes = data.targetAttributes;
  if (data.targetExists) {  // a target that is not there has no times or size to give
    h.creationTime = data.targetCreationTime;
    h.accessTime = data.targetAccessTime;
    h.writeTime = data.targetWriteTime;
    h.fileSize = data.targetSize;
  }
  h.iconIndex = data.iconIndex;
  h.showCommand = data.showCommand;
  h.hotKey = data.hotKey;
  SetHeaderFields(h);
  if (flags & kHasLinkTargetIdList) link.idList = IdListSection(data);
  if (localInfo) link.linkInfo = LocalLinkInfo(data, path);
  if (network) link.linkInfo = NetworkLinkInfo(data);
  // The counted strings, in the order the format fixes.
  const std::u16string_view texts[kStringCount] = {data.description, data.relativePath, workingDir, data.arguments,
                                                   data.iconLocation};
  static constexpr const char* kWhat[kStringCount] = {"the description", "the relative path", "the working directory",
                                                      "the arguments", "the icon location"};
  for (std::size_t i = 0; i < kStringCount; ++i) {
    if ((flags & StringFlag(static_cast<StringId>(i))) == 0) continue;
    Size16(texts[i].size(), kWhat[i]);
    link.strings[i] = MakeCountedString(texts[i], true);
  }
  // The extra data blocks, then the terminal one.
  const std::string store = !data.propertyStore.empty() || data.appId.empty()
                                ? data.propertyStore
                                : NewStringPropertyStore(kAppUserModelFormat, kAppUserModelId, data.appId);
  if (!store.empty()) link.blocks.push_back({PropertyStoreBlock(store), signature::kPropertyStore});
  if (flags & kHasExpString) link.blocks.push_back(EnvironmentBlock(signature::kEnvironment, data.environmentTarget));
  if (flags & kHasExpIcon) link.blocks.push_back(EnvironmentBlock(signature::kIconEnvironment, data.environmentIcon));
  link.terminal.assign(4, '\0');
  return link;
}

std::string BuildLinkFile(const LinkData& data) { return WriteLink(BuildLink(data)); }

}  // namespace lnk
