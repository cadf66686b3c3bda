// The views of a link's sections (see view.h).  In order: text and GUIDs;
// the item list; the LinkInfo; the extra blocks; the whole link.
#include "lnk/view.h"

#include <algorithm>
#include <iterator>

#include "lnk/bytes.h"
#include "lnk/propstore.h"

namespace lnk {
namespace {

using std::string;
using std::string_view;
using std::u16string;

// ---- text inside sections -----------------------------------------------------

// Single-byte text from `at` to its NUL, within `bytes`; nullopt when `at`
// lies outside or no NUL ends it there.
std::optional<u16string> Ansi(string_view bytes, std::size_t at) {
  if (at >= bytes.size()) return std::nullopt;
  const std::size_t nul = bytes.find('\0', at);
  if (nul == string_view::npos) return std::nullopt;
  return FromWindows1252(bytes.substr(at, nul - at));
}

// UTF-16 text from `at` to its NUL, within `bytes`.
std::optional<u16string> Wide(string_view bytes, std::size_t at) {
  u16string text;
  for (std::size_t i = at; i + 1 < bytes.size() && i >= at; i += 2) {
    const char16_t c = static_cast<char16_t>(LittleEndianAt(bytes, i, 2));
    if (c == 0) return text;
    text.push_back(c);
  }
  return std::nullopt;
}

// UTF-16 text of a fixed field: up to its first NUL or its end.
u16string WideField(string_view field) {
  u16string text;
  for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(LittleEndianAt(field, i, 2));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

u16string AnsiField(string_view field) {
  return FromWindows1252(field.substr(0, std::min(field.find('\0'), field.size())));
}

u16string Ascii(string_view text) { return u16string(text.begin(), text.end()); }

// Upper case for comparing names, as far as Windows stores them in upper
// case (a share's name in the LinkInfo): ASCII, Latin-1, Greek, Cyrillic.
char16_t FoldCase(char16_t c) {
  const bool down32 = (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
                      (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F);
  if (down32) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c == 0xFF ? char16_t{0x178} : c;
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return FoldCase(x) == FoldCase(y);
         });
}

// ---- names of GUIDs -------------------------------------------------------

struct Named {
  const char* guid;
  const char* name;
};

// The shell's root folders and the Control Panel items links are made to.
constexpr Named kShellFolders[] = {
    {"{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "My Computer"},
    {"{208D2C60-3AEA-1069-A2D7-08002B30309D}", "My Network Places"},
    {"{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", "Network"},
    {"{21EC2020-3AEA-1069-A2DD-08002B30309D}", "Control Panel"},
    {"{26EE0668-A00A-44D7-9371-BEB064C98683}", "All Control Panel Items"},
    {"{645FF040-5081-101B-9F08-00AA002F954E}", "Recycle Bin"},
    {"{450D8FBA-AD25-11D0-98A8-0800361B1103}", "My Documents"},
    {"{871C5380-42A0-1069-A2EA-08002B30309D}", "Internet Explorer"},
    {"{59031A47-3F72-44A7-89C5-5595FE6B30EE}", "User files"},
    {"{031E4825-7B94-4DC3-B131-E946B44C8DD5}", "Libraries"},
    {"{679F85CB-0220-4080-B29B-5540CC05AAB6}", "Quick access"},
    {"{2227A280-3AEA-1069-A2DE-08002B30309D}", "Printers"},
    {"{018D5C66-4533-4307-9B53-224DE2ED1FE6}", "OneDrive"},
    {"{D20EA4E1-3957-11D2-A40B-0C5020524153}", "Administrative Tools"},
    {"{7B81BE6A-CE2B-4676-A29E-EB907A5126C5}", "Programs and Features"},
    {"{BB06C0E4-D293-4F75-8A90-CB05B6477EEE}", "System"},
    {"{A8A91A66-3A7D-4424-8D24-04E180695C7A}", "Devices and Printers"},
    {"{8E908FC9-BECC-40F6-915B-F4CA0E70D03D}", "Network and Sharing Center"},
    {"{025A5937-A6BE-4686-A844-36FE4BEC8B6D}", "Power Options"},
    {"{4026492F-2F69-46B8-B9BF-5654FC07E423}", "Windows Firewall"},
};

// The known folders (FOLDERID_*) a link names most.
constexpr Named kKnownFolders[] = {
    {"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", "Desktop"},
    {"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}", "Documents"},
    {"{374DE290-123F-4565-9164-39C4925E467B}", "Downloads"},
    {"{4BD8D571-6D19-48D3-BE97-422220080E43}", "Music"},
    {"{33E28130-4E1E-4676-835A-98395C3BC3BB}", "Pictures"},
    {"{18989B1D-99B5-455B-841C-AB7C74E4DDFC}", "Videos"},
    {"{905E63B6-C1BF-494E-B29C-65B732D3D21A}", "ProgramFiles"},
    {"{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}", "ProgramFilesX86"},
    {"{F7F1ED05-9F6D-47A2-AAAE-29D317C6F066}", "ProgramFilesCommon"},
    {"{DE974D24-D9C6-4D3E-BF91-F4455120B917}", "ProgramFilesCommonX86"},
    {"{6D809377-6AF0-444B-8957-A3773F02200E}", "ProgramFilesX64"},
    {"{F38BF404-1D43-42F2-9305-67DE0B28FC23}", "Windows"},
    {"{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}", "System"},
    {"{D65231B0-B2F1-4857-A4CE-A8E7C6EA7D27}", "SystemX86"},
    {"{5E6C858F-0E22-4760-9AFE-EA3317B67173}", "Profile"},
    {"{3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}", "RoamingAppData"},
    {"{F1B32785-6FBA-4FCF-9D55-7B8E7F157091}", "LocalAppData"},
    {"{A520A1A4-1780-4FF6-BD18-167343C5AF16}", "LocalAppDataLow"},
    {"{62AB5D82-FDC1-4DC3-A9DD-070D1D495D97}", "ProgramData"},
    {"{625B53C3-AB48-4EC1-BA1F-A1EF4146FC19}", "StartMenu"},
    {"{A77F5D77-2E2B-44C3-A6A2-ABA601054A51}", "Programs"},
    {"{B97D20BB-F46A-4C97-BA10-5E3608430854}", "Startup"},
    {"{0139D44E-6AFE-49F2-8690-3DAFCAE6FFB8}", "CommonPrograms"},
    {"{A4115719-D62E-491D-AA7C-E74B8BE3B067}", "CommonStartMenu"},
    {"{82A5EA35-D9CD-47C5-9629-E15D2F714E6E}", "CommonStartup"},
    {"{C4AA340D-F20F-4863-AFEF-F87EF2E6BA25}", "PublicDesktop"},
    {"{DFDF76A2-C82A-4D63-906A-5644AC457385}", "Public"},
    {"{ED4824AF-DCE4-45A8-81E2-FC7965083634}", "PublicDocuments"},
    {"{82A74AEB-AEB4-465C-A014-D097EE346D63}", "ControlPanelFolder"},
    {"{0AC0837C-BBF8-452A-850D-79D08E667CA7}", "ComputerFolder"},
    {"{B7534046-3ECB-4C18-BE4E-64CD4CB7D6AC}", "RecycleBinFolder"},
    {"{8983036C-27C0-404B-8F08-102D10DCFD74}", "SendTo"},
    {"{AE50C081-EBD2-438A-8655-8A092E34987A}", "Recent"},
    {"{FD228CB7-AE11-4AE3-864C-16F3910AB8FE}", "Fonts"},
    {"{724EF170-A42D-4FEF-9F26-B60E846FBA4F}", "AdminTools"},
    {"{D0384E7D-BAC3-4797-8F14-CBA229B392B5}", "CommonAdminTools"},
    {"{F3CE0F7C-4901-4ACC-8648-D5D44B04EF8F}", "UsersFiles"},
    {"{1B3EA5DC-B587-4786-B4EF-BD1DC332AEAE}", "Libraries"},
    {"{1777F761-68AD-4D8A-87BD-30B759FA33DD}", "Favorites"},
    {"{A63293E8-664E-48DB-A079-DF759E0509F7}", "Templates"},
    {"{D20BEEC4-5CA8-4905-AE3B-BF251EA09B53}", "NetworkFolder"},
    {"{52A4F021-7B75-48A9-9F6B-4B87A210BC8F}", "QuickLaunch"},
    {"{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}", "Links"},
    {"{1E87508D-89C2-42F0-8A7E-645A0F50CA58}", "AppsFolder"},
    {"{A52BBA46-E9E1-435F-B3D9-28DAA648C0F6}", "SkyDrive"},
    {"{9E3995AB-1F9C-4F13-B827-48B24B6C7174}", "UserPinned"},
    {"{5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}", "UserProgramFiles"},
    {"{76FC4E2D-D6AD-4519-A663-37BD56068185}", "PrintersFolder"},
    {"{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}", "SavedGames"},
    {"{56784854-C6CB-462B-8169-88E350ACB882}", "Contacts"},
    {"{3214FAB5-9757-4298-BB61-92A9DEAA44FF}", "PublicMusic"},
    {"{B6EBFB86-6907-413C-9AF7-4FC2ABF07CC5}", "PublicPictures"},
    {"{2400183A-6185-49FB-A2D8-4A392A602BA3}", "PublicVideos"},
    {"{3D644C9B-1FB8-4F30-9B45-F670235F79C0}", "PublicDownloads"},
    {"{B94237E7-57AC-4347-9151-B08C6C32D1F7}", "CommonTemplates"},
};

// The special folders (CSIDL_*) a link names.
constexpr const char* kSpecialFolders[] = {
    "Desktop", "Internet", "Programs", "Controls", "Printers", "Personal", "Favorites", "Startup", "Recent",
    "SendTo", "BitBucket", "StartMenu", nullptr, "MyMusic", "MyVideo", nullptr, "DesktopDirectory", "Drives",
    "Network", "NetHood", "Fonts", "Templates", "CommonStartMenu", "CommonPrograms", "CommonStartup",
    "CommonDesktopDirectory", "AppData", "PrintHood", "LocalAppData", "AltStartup", "CommonAltStartup",
    "CommonFavorites", "InternetCache", "Cookies", "History", "CommonAppData", "Windows", "System",
    "ProgramFiles", "MyPictures", "Profile", "SystemX86", "ProgramFilesX86", "ProgramFilesCommon",
    "ProgramFilesCommonX86", "CommonTemplates", "CommonDocuments", "CommonAdminTools", "AdminTools"};

// The name of a GUID in the table from `first` to `last`; nullptr for none.
const char* NameOf(const Named* first, const Named* last, const string& guid) {
  const Named* found = std::find_if(first, last, [&](const Named& n) { return guid == n.guid; });
  return found == last ? nullptr : found->name;
}

const char* ShellFolderName(const string& guid) {
  const char* name = NameOf(std::begin(kShellFolders), std::end(kShellFolders), guid);
  return name != nullptr ? name : NameOf(std::begin(kKnownFolders), std::end(kKnownFolders), guid);
}

// ---- the item list ---------------------------------------------------------

constexpr std::uint32_t kExtensionSignature = 0xBEEF0004;

// The long name of an item's 0xBEEF0004 extension block, which begins at
// `at` of the item; nullopt when there is none there.
std::optional<u16string> ExtensionName(string_view item, std::size_t at) {
  const std::size_t size = LittleEndianAt(item, at, 2);
  if (size < 8 || at + size > item.size() || LittleEndianAt(item, at + 4, 4) != kExtensionSignature) {
    return std::nullopt;
  }
  const string_view block = item.substr(at, size);
  const std::uint32_t version = LittleEndianAt(block, 2, 2);
  // Where the long name starts grows with the version (Windows XP's 3,
  // Vista's 7, 8 and 9).
  const std::size_t nameAt = version >= 9 ? 46 : version >= 8 ? 42 : version >= 7 ? 38 : version >= 3 ? 20 : 0;
  if (nameAt == 0) return std::nullopt;
  return Wide(block, nameAt);
}

// The extension blocks after a file or folder's stored name: each one's
// size first; the first 0xBEEF0004 gives the long name.
std::optional<u16string> LongName(string_view item, std::size_t at) {
  while (at + 8 <= item.size()) {
    const std::size_t size = LittleEndianAt(item, at, 2);
    if (size < 8 || at + size > item.size()) break;
    if (std::optional<u16string> name = ExtensionName(item, at)) return name;
    at += size;
  }
  return std::nullopt;
}

// A delegate or other item that carries a file's 0xBEEF0004 block: found
// by its signature, wherever it lies.
std::optional<u16string> AnyExtensionName(string_view item) {
  for (std::size_t at = 4; at + 8 <= item.size(); at += 2) {
    if (LittleEndianAt(item, at + 4, 4) == kExtensionSignature) {
      if (std::optional<u16string> name = ExtensionName(item, at)) return name;
    }
  }
  return std::nullopt;
}

void ReadFileEntry(string_view item, Item& out, std::vector<string>& warnings) {
  const std::uint8_t type = out.type;
  const bool unicode = (type & 0x04) != 0;
  const std::uint32_t attributes = LittleEndianAt(item, 12, 2);
  out.kind = (type & 0x01) || ((type & 0x02) == 0 && (attributes & 0x10)) ? "folder" : "file";
  // The item's last two bytes give where its 0xBEEF0004 block begins; the
  // stored name ends there at the latest (some writers leave its NUL out).
  const std::size_t block = item.size() >= 16 ? LittleEndianAt(item, item.size() - 2, 2) : 0;
  const bool hasBlock = block >= 16 && block + 8 <= item.size() &&
                        LittleEndianAt(item, block + 4, 4) == kExtensionSignature;
  const string_view names = item.substr(0, hasBlock ? block : item.size());
  std::optional<u16string> stored = unicode ? Wide(names, 14) : Ansi(names, 14);
  if (!stored && hasBlock) stored = unicode ? WideField(names.substr(14)) : AnsiField(names.substr(14));
  if (!stored) {
    warnings.push_back("an item's name is not terminated inside the item");
    return;
  }
  std::size_t after = 14 + (stored->size() + 1) * (unicode ? 2 : 1);
  after += after & 1;  // the extension blocks start on an even offset
  std::optional<u16string> longName = hasBlock ? ExtensionName(item, block) : LongName(item, after);
  out.name = longName ? *longName : *stored;
  if (longName && *longName != *stored) out.shortName = *stored;
}

Item ReadItem(string_view item, std::vector<string>& warnings) {
  Item out;
  out.type = static_cast<std::uint8_t>(LittleEndianAt(item, 2, 1));
  const std::uint8_t type = out.type;
  // A root folder (0x1F), or a shell folder on a volume (0x2E): its GUID.
  if ((type == 0x1F || type == 0x2E) && item.size() >= 20) {
    out.kind = "root";
    out.guid = GuidText(item.substr(4, 16));
  } else if ((type & 0x70) == 0x20) {
    out.kind = "drive";
    if (std::optional<u16string> name = Ansi(item.substr(0, std::min<std::size_t>(item.size(), 23)), 3)) {
      out.name = *name;
    }
  } else if ((type & 0x70) == 0x30) {
    ReadFileEntry(item, out, warnings);
  } else if ((type & 0x70) == 0x40) {
    out.kind = "network";
    if (std::optional<u16string> name = Ansi(item, 5)) out.name = *name;
  } else if (type == 0x71 && item.size() >= 30) {
    out.kind = "control panel";
    out.guid = GuidText(item.substr(14, 16));
  } else if (type == 0x01 && item.size() >= 12 && LittleEndianAt(item, 4, 4) == 0x39DE2184) {
    out.kind = "control panel category";
    out.name = Ascii("category " + std::to_string(LittleEndianAt(item, 8, 4)));
  } else if (type == 0x61) {
    out.kind = "uri";
    // The address follows the flags and a data size (UTF-16 with flag 0x80).
    const std::size_t dataSize = LittleEndianAt(item, 4, 2);
    const std::size_t at = dataSize == 0 ? 8 : 8 + 0x2C;
    std::optional<u16string> text =
        (LittleEndianAt(item, 3, 1) & 0x80) ? Wide(item, at) : Ansi(item, at);
    if (text) out.name = *text;
  } else {
    out.kind = "unknown";
    if (std::optional<u16string> name = AnyExtensionName(item)) out.name = *name;
  }
  if (!out.guid.empty()) {
    if (const char* name = ShellFolderName(out.guid)) out.name = Ascii(name);
  }
  return out;
}

}  // namespace

ItemList ReadItems(string_view items, std::vector<string>& warnings) {
  ItemList list;
  ByteReader in(items);
  // Where the walk is: nothing yet, My Computer, the network (down to a
  // share), a path, or no path at all.
  enum { kStart, kComputer, kNetwork, kPath, kNoPath } state = kStart;
  u16string path;
  for (;;) {
    const std::size_t size = in.U16();
    if (!in.ok()) {
      warnings.push_back("the item list ends without its terminal item");
      break;
    }
    if (size == 0) break;
    if (size < 3) {
      warnings.push_back("an item of the item list is shorter than its type field");
      break;
    }
    in.Seek(in.offset() - 2);
    const string_view bytes = in.Take(size);
    if (!in.ok()) {
      warnings.push_back("an item of the item list reaches past the list's end");
      break;
    }
    Item item = ReadItem(bytes, warnings);
    const bool root = item.kind == "root";
    if (root && state == kStart && item.guid == "{20D04FE0-3AEA-1069-A2D8-08002B30309D}") {
      state = kComputer;
    } else if (root && state == kStart &&
               (item.guid == "{208D2C60-3AEA-1069-A2D7-08002B30309D}" ||
                item.guid == "{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}")) {
      state = kNetwork;
    } else if (item.kind == "drive" && (state == kStart || state == kComputer) && !item.name.empty()) {
      state = kPath;
      path = item.name;
    } else if (item.kind == "network" && (state == kStart || state == kNetwork)) {
      // Down to a server, then its share: the last one named
      // \\server\share is where the path starts.
      state = kNetwork;
      if (item.name.starts_with(u"\\\\")) path = item.name;
    } else if ((item.kind == "file" || item.kind == "folder") && (state == kPath || (state == kNetwork && !path.empty()))) {
      state = kPath;
      if (!path.ends_with(u'\\')) path += u'\\';
      path += item.name;
    } else {
      state = kNoPath;
    }
    list.items.push_back(std::move(item));
  }
  if (state != kNoPath && !path.empty()) list.path = path;
  return list;
}

// ---- the LinkInfo ------------------------------------------------------------

LinkInfoView ReadLinkInfo(string_view section, std::vector<string>& warnings) {
  LinkInfoView v;
  auto field = [&](std::size_t at) { return LittleEndianAt(section, at, 4); };
  const std::uint32_t headerSize = field(4);
  const std::uint32_t flags = field(8);
  if (section.size() < 28 || headerSize < 28 || headerSize > section.size()) {
    warnings.push_back("the LinkInfo's header is damaged");
    return v;
  }
  bool damaged = false;
  // A string of the LinkInfo at an offset that lies inside it.
  auto text = [&](std::uint32_t offset, bool wide, string_view within) -> u16string {
    std::optional<u16string> t = wide ? Wide(within, offset) : Ansi(within, offset);
    if (!t) damaged = true;
    return t ? *t : u16string();
  };
  const bool unicodeOffsets = headerSize >= 0x24;
  if (flags & 0x01) {
    v.volume = true;
    const std::uint32_t at = field(12);
    const std::size_t volumeSize = LittleEndianAt(section, at, 4);
    if (at >= section.size() || volumeSize < 16 || volumeSize > section.size() - at) {
      damaged = true;
    } else {
      const string_view volume = section.substr(at, volumeSize);
      v.driveType = LittleEndianAt(volume, 4, 4);
      v.driveSerial = LittleEndianAt(volume, 8, 4);
      const std::uint32_t labelAt = LittleEndianAt(volume, 12, 4);
      v.volumeLabel = labelAt == 0x14 ? text(LittleEndianAt(volume, 16, 4), true, volume) : text(labelAt, false, volume);
    }
    v.singleByteBasePath = !(unicodeOffsets && field(28) != 0);
    v.localBasePath = v.singleByteBasePath ? text(field(16), false, section) : text(field(28), true, section);
  }
  if (flags & 0x02) {
    v.network = true;
    const std::uint32_t at = field(20);
    const std::size_t linkSize = LittleEndianAt(section, at, 4);
    if (at >= section.size() || linkSize < 20 || linkSize > section.size() - at) {
      damaged = true;
    } else {
      const string_view link = section.substr(at, linkSize);
      const std::uint32_t netFlags = LittleEndianAt(link, 4, 4);
      const std::uint32_t nameAt = LittleEndianAt(link, 8, 4);
      const std::uint32_t deviceAt = LittleEndianAt(link, 12, 4);
      if (netFlags & 0x02) v.networkProviderType = LittleEndianAt(link, 16, 4);
      const bool wide = nameAt > 0x14 && linkSize >= 28;
      v.networkShare = wide && LittleEndianAt(link, 20, 4) != 0 ? text(LittleEndianAt(link, 20, 4), true, link)
                                                                 : text(nameAt, false, link);
      if (netFlags & 0x01) {
        v.deviceName = wide && LittleEndianAt(link, 24, 4) != 0 ? text(LittleEndianAt(link, 24, 4), true, link)
                                                                 : text(deviceAt, false, link);
      }
    }
  }
  if (flags & 0x03) {
    v.pathSuffix = unicodeOffsets && field(32) != 0 ? text(field(32), true, section) : text(field(24), false, section);
  }
  auto join = [](const u16string& base, const u16string& suffix) {
    if (suffix.empty() || base.empty()) return base + suffix;
    return base + (base.ends_with(u'\\') ? u"" : u"\\") + suffix;
  };
  if (!v.localBasePath.empty()) v.localPath = join(v.localBasePath, v.pathSuffix);
  if (!v.networkShare.empty()) v.networkPath = join(v.networkShare, v.pathSuffix);
  if (damaged) warnings.push_back("the LinkInfo holds an offset or size that lies outside it");
  return v;
}

// ---- the extra blocks ----------------------------------------------------

namespace {

Field Text(const char* key, const char* label, u16string text) {
  Field f;
  f.key = key;
  f.label = label;
  f.text = std::move(text);
  return f;
}

Field Number(const char* key, const char* label, std::int64_t n) {
  Field f;
  f.key = key;
  f.label = label;
  f.kind = Field::Kind::kNumber;
  f.number = n;
  return f;
}

// The data of the environment, icon environment and Darwin blocks: 260
// single-byte characters, then 260 UTF-16 units; the Unicode text when set.
u16string EnvironmentText(string_view block) {
  const u16string wide = WideField(block.substr(std::min<std::size_t>(block.size(), 268), 520));
  return wide.empty() ? AnsiField(block.substr(std::min<std::size_t>(block.size(), 8), 260)) : wide;
}

struct BlockKind {
  std::uint32_t signature;
  const char* name;
  std::size_t least;  // the smallest size that holds its fields
};

constexpr BlockKind kBlockKinds[] = {
    {signature::kEnvironment, "environment", 0x314},
    {signature::kConsole, "console", 0xCC},
    {signature::kTracker, "tracker", 0x60},
    {signature::kConsoleCodePage, "console code page", 0x0C},
    {signature::kSpecialFolder, "special folder", 0x10},
    {signature::kDarwin, "darwin", 0x314},
    {signature::kIconEnvironment, "icon environment", 0x314},
    {signature::kShim, "shim", 0x08},
    {signature::kPropertyStore, "property store", 0x08},
    {signature::kKnownFolder, "known folder", 0x1C},
    {signature::kVistaIdList, "Vista item list", 0x0A},
};

}  // namespace

BlockView ReadBlock(const ExtraBlock& block, std::vector<string>& warnings) {
  BlockView v;
  v.signature = block.signature;
  v.name = "unknown";
  const string_view b = block.bytes;
  const BlockKind* kind = std::find_if(std::begin(kBlockKinds), std::end(kBlockKinds),
                                       [&](const BlockKind& k) { return k.signature == block.signature; });
  if (kind == std::end(kBlockKinds)) return v;
  v.name = kind->name;
  if (b.size() < kind->least) {
    warnings.push_back("the " + v.name + " block is too short for its fields");
    return v;
  }
  v.known = true;
  auto u32 = [b](std::size_t at) { return LittleEndianAt(b, at, 4); };
  auto u16 = [b](std::size_t at) { return LittleEndianAt(b, at, 2); };
  switch (block.signature) {
    case signature::kEnvironment:
    case signature::kIconEnvironment:
      v.fields.push_back(Text("text", "", EnvironmentText(b)));
      break;
    case signature::kDarwin:
      v.fields.push_back(Text("darwin_id", "application", EnvironmentText(b)));
      break;
    case signature::kTracker:
      v.fields.push_back(Text("machine_id", "machine", AnsiField(b.substr(16, 16))));
      v.fields.push_back(Text("volume_id", "volume", Ascii(GuidText(b.substr(32, 16)))));
      v.fields.push_back(Text("object_id", "object", Ascii(GuidText(b.substr(48, 16)))));
      v.fields.push_back(Text("birth_volume_id", "birth volume", Ascii(GuidText(b.substr(64, 16)))));
      v.fields.push_back(Text("birth_object_id", "birth object", Ascii(GuidText(b.substr(80, 16)))));
      break;
    case signature::kSpecialFolder: {
      const std::uint32_t id = u32(8);
      v.fields.push_back(Number("folder_id", "CSIDL", id));
      const char* name = id < std::size(kSpecialFolders) ? kSpecialFolders[id] : nullptr;
      if (name != nullptr) v.fields.push_back(Text("folder_name", "", Ascii(name)));
      v.fields.push_back(Number("offset", "item offset", u32(12)));
      break;
    }
    case signature::kKnownFolder: {
      const string guid = GuidText(b.substr(8, 16));
      v.fields.push_back(Text("folder_id", "", Ascii(guid)));
      if (const char* name = NameOf(std::begin(kKnownFolders), std::end(kKnownFolders), guid)) {
        v.fields.push_back(Text("folder_name", "", Ascii(name)));
      }
      v.fields.push_back(Number("offset", "item offset", u32(24)));
      break;
    }
    case signature::kConsole:
      v.fields.push_back(Text("face_name", "font", WideField(b.substr(44, 64))));
      v.fields.push_back(Number("font_size", "font size", u32(32) >> 16));
      v.fields.push_back(Number("buffer_width", "buffer width", u16(12)));
      v.fields.push_back(Number("buffer_height", "buffer height", u16(14)));
      v.fields.push_back(Number("window_width", "window width", u16(16)));
      v.fields.push_back(Number("window_height", "window height", u16(18)));
      v.fields.push_back(Number("fill_attributes", "colours", u16(8)));
      v.fields.push_back(Number("quick_edit", "quick edit", u32(116)));
      v.fields.push_back(Number("full_screen", "full screen", u32(112)));
      break;
    case signature::kConsoleCodePage:
      v.fields.push_back(Number("code_page", "code page", u32(8)));
      break;
    case signature::kShim:
      v.fields.push_back(Text("layer_name", "layer", WideField(b.substr(8))));
      break;
    case signature::kVistaIdList: {
      const ItemList list = ReadItems(b.substr(8), warnings);
      v.fields.push_back(Number("items", "items", static_cast<std::int64_t>(list.items.size())));
      if (list.path) v.fields.push_back(Text("path", "path", *list.path));
      break;
    }
    case signature::kPropertyStore: {
      const PropertyStore store = ParsePropertyStore(b.substr(8));
      if (!store.error.empty()) warnings.push_back("the property store: " + store.error);
      for (const PropertyStorage& storage : store.storages) {
        for (const StoredProperty& p : storage.properties) {
          // Named by the Shell's name, else by its format and id (or its
          // own name, in the storage of named properties).
          const char* known = storage.stringNamed ? nullptr : PropertyName(storage.formatId, p.id);
          Field f;
          if (known != nullptr) {
            f.key = known;
          } else if (storage.stringNamed) {
            for (const char16_t c : p.name) f.key += c < 0x80 ? static_cast<char>(c) : '?';
          } else {
            f.key = FormatIdText(storage.formatId) + " " + std::to_string(p.id);
          }
          f.label = f.key;
          f.text = p.hasText ? p.text : Ascii("(a value of type " + std::to_string(p.type) + ")");
          v.fields.push_back(std::move(f));
        }
      }
      break;
    }
    default:
      break;
  }
  return v;
}

// ---- the whole link ----------------------------------------------------------

namespace {

constexpr std::size_t kDialogLength = 260;  // what Windows' Properties dialog shows of the arguments

std::optional<u16string> StringOf(const Link& link, StringId id) {
  const CountedString& s = link.string(id);
  if (!s.stored()) return std::nullopt;
  return s.text;
}

const char* StringName(StringId id) {
  static constexpr const char* kNames[kStringCount] = {"description", "relative path", "working directory",
                                                       "arguments", "icon location"};
  return kNames[static_cast<std::size_t>(id)];
}

// Text the strings hide or cannot give: characters after a NUL that Windows
// does not read, and UTF-16 units that are no character.
void CheckString(const Link& link, StringId id, std::vector<string>& warnings) {
  const CountedString& s = link.string(id);
  if (!s.stored()) return;
  const std::size_t stored = (s.bytes.size() - 2) / (link.unicode() ? 2 : 1);
  if (stored > s.text.size() + 1) {
    warnings.push_back("the " + string(StringName(id)) + " hold " + std::to_string(stored - s.text.size() - 1) +
                       " characters after a NUL, which Windows does not read");
  }
  for (std::size_t i = 0; i < s.text.size(); ++i) {
    const char16_t c = s.text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < s.text.size() && s.text[i + 1] >= 0xDC00 && s.text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      warnings.push_back("the " + string(StringName(id)) + " hold a UTF-16 unit that is no character");
      return;
    }
  }
}

// Whether two paths name the same place: equal but for letter case, or
// equal where one has a file's stored (8.3) name and the other its long one.
// A name of b with characters beyond ASCII matches any name when b is
// single-byte text of a code page that is not known here.
bool SamePlace(std::u16string_view a, std::u16string_view b, const ItemList& list, bool bSingleByte = false) {
  if (SameIgnoringCase(a, b)) return true;
  auto names = [](std::u16string_view p) {
    std::vector<std::u16string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= p.size(); ++i) {
      if (i == p.size() || p[i] == u'\\') {
        if (i > start) out.push_back(p.substr(start, i - start));
        start = i + 1;
      }
    }
    return out;
  };
  const std::vector<std::u16string_view> x = names(a), y = names(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (SameIgnoringCase(x[i], y[i])) continue;
    if (bSingleByte && std::any_of(y[i].begin(), y[i].end(), [](char16_t c) { return c >= 0x80; })) continue;
    const bool shortForm = std::any_of(list.items.begin(), list.items.end(), [&](const Item& item) {
      return !item.shortName.empty() &&
             ((SameIgnoringCase(item.name, x[i]) && SameIgnoringCase(item.shortName, y[i])) ||
              (SameIgnoringCase(item.name, y[i]) && SameIgnoringCase(item.shortName, x[i])));
    });
    if (!shortForm) return false;
  }
  return true;
}

}  // namespace

LinkView Describe(const Link& link) {
  LinkView v;
  v.warnings = link.warnings;
  const std::uint32_t flags = link.header.linkFlags;
  v.description = StringOf(link, StringId::kDescription);
  v.relativePath = StringOf(link, StringId::kRelativePath);
  v.workingDir = StringOf(link, StringId::kWorkingDir);
  v.arguments = StringOf(link, StringId::kArguments);
  v.iconLocation = StringOf(link, StringId::kIconLocation);
  for (std::size_t i = 0; i < kStringCount; ++i) CheckString(link, static_cast<StringId>(i), v.warnings);

  if (link.idList.size() >= 2) {
    v.hasItemList = true;
    v.itemList = ReadItems(string_view(link.idList).substr(2), v.warnings);
  }
  if (!link.linkInfo.empty()) {
    v.hasLinkInfo = true;
    v.linkInfo = ReadLinkInfo(link.linkInfo, v.warnings);
  }
  for (const ExtraBlock& block : link.blocks) {
    v.blocks.push_back(ReadBlock(block, v.warnings));
    const BlockView& b = v.blocks.back();
    if (b.signature == signature::kEnvironment && b.known && !v.environmentTarget) {
      v.environmentTarget = b.fields.front().text;
    }
    if (b.signature == signature::kPropertyStore && b.known && !v.appId) {
      const PropertyStore store = ParsePropertyStore(string_view(block.bytes).substr(8));
      if (const u16string* id = FindStringProperty(store, kAppUserModelFormat, kAppUserModelId)) v.appId = *id;
    }
  }

  // The icon as GetIconLocation answers it: with its %VARIABLES%, from
  // the icon environment block, where the link says it has one.
  const auto icon = std::find_if(v.blocks.begin(), v.blocks.end(), [](const BlockView& b) {
    return b.signature == signature::kIconEnvironment && b.known && !b.fields.front().text.empty();
  });
  if (icon != v.blocks.end() && (flags & kHasExpIcon)) v.iconLocation = icon->fields.front().text;

  // The target, as GetPath(SLGP_RAWPATH) answers it.
  const bool useLinkInfo = v.hasLinkInfo && (flags & kForceNoLinkInfo) == 0;
  if (v.environmentTarget && (flags & kHasExpString) && !v.environmentTarget->empty()) {
    v.target = v.environmentTarget;
  } else if (v.itemList.path) {
    v.target = v.itemList.path;
  } else if (useLinkInfo && !v.linkInfo.localPath.empty()) {
    v.target = v.linkInfo.localPath;
  } else if (useLinkInfo && !v.linkInfo.networkPath.empty()) {
    v.target = v.linkInfo.networkPath;
  }
  if (!v.itemList.items.empty()) {
    const Item& last = v.itemList.items.back();
    if (last.kind == "file") v.targetIsFolder = false;
    if (last.kind == "folder" || last.kind == "drive" || (last.kind == "network" && v.itemList.path)) {
      v.targetIsFolder = true;
    }
  } else if (v.target && link.header.fileAttributes != 0) {
    v.targetIsFolder = (link.header.fileAttributes & 0x10) != 0;
  }

  // Where the parts disagree.
  if ((flags & kHasExpString) && !v.environmentTarget) {
    v.warnings.push_back("the link says its target has variables, but holds no environment block");
  }
  const u16string* local = v.linkInfo.localPath.empty() ? nullptr : &v.linkInfo.localPath;
  const u16string* network = v.linkInfo.networkPath.empty() ? nullptr : &v.linkInfo.networkPath;
  if (local && v.linkInfo.singleByteBasePath &&
      std::any_of(local->begin(), local->end(), [](char16_t c) { return c >= 0x80; })) {
    v.warnings.push_back(
        "the LinkInfo's local path is single-byte text of a code page the link does not name; it is shown as "
        "Windows-1252");
  }
  if (v.itemList.path && local && !SamePlace(*v.itemList.path, *local, v.itemList, v.linkInfo.singleByteBasePath)) {
    v.warnings.push_back("the item list and the LinkInfo's local path name different targets");
  }
  if (v.itemList.path && network && v.itemList.path->starts_with(u"\\\\") &&
      !SamePlace(*v.itemList.path, *network, v.itemList)) {
    v.warnings.push_back("the item list and the LinkInfo's network path name different targets");
  }
  if (v.environmentTarget && v.environmentTarget->find(u'%') == u16string::npos && v.itemList.path &&
      !SamePlace(*v.environmentTarget, *v.itemList.path, v.itemList)) {
    v.warnings.push_back("the environment block and the item list name different targets");
  }
  if (v.arguments) {
    const u16string& a = *v.arguments;
    if (a.size() > kDialogLength) {
      v.warnings.push_back("the arguments hold " + std::to_string(a.size()) +
                           " characters; Windows' dialogs show only the first 260");
    }
  }
  // A run of spaces pushes what follows out of sight in the dialogs.
  for (const auto& [text, name] : {std::pair{&v.arguments, "arguments"}, std::pair{&v.workingDir, "working directory"}}) {
    if (!*text) continue;
    const std::size_t last = (*text)->find_last_not_of(u' ');
    const std::size_t spaces = (*text)->size() - (last == u16string::npos ? 0 : last + 1);
    if (spaces >= 2) v.warnings.push_back("the " + string(name) + " ends in " + std::to_string(spaces) + " spaces");
  }
  return v;
}

std::string GuidText(string_view b) {
  if (b.size() < 16) return {};
  static constexpr char kDigits[] = "0123456789ABCDEF";
  string s = "{";
  auto put = [&](std::size_t at) {
    const unsigned char c = static_cast<unsigned char>(b[at]);
    s.push_back(kDigits[c >> 4]);
    s.push_back(kDigits[c & 0xF]);
  };
  for (std::size_t i : {3, 2, 1, 0}) put(i);
  s += '-';
  put(5), put(4);
  s += '-';
  put(7), put(6);
  s += '-';
  put(8), put(9);
  s += '-';
  for (std::size_t i = 10; i < 16; ++i) put(i);
  return s + "}";
}

std::string FileTimeText(std::uint64_t filetime) {
  const std::uint64_t seconds = filetime / 10'000'000;
  std::uint64_t fraction = filetime % 10'000'000;
  // Days since 1601-01-01, counted from 0000-03-01 for the civil-date walk.
  const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) + 584694;
  const std::uint64_t secs = seconds % 86400;
  const std::int64_t era = days / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  auto digits = [](std::int64_t n, int width) {
    string s = std::to_string(n);
    return string(s.size() < static_cast<std::size_t>(width) ? width - s.size() : 0, '0') + s;
  };
  string out = digits(year, 4) + "-" + digits(month, 2) + "-" + digits(day, 2) + "T" +
               digits(static_cast<std::int64_t>(secs / 3600), 2) + ":" +
               digits(static_cast<std::int64_t>(secs / 60 % 60), 2) + ":" + digits(static_cast<std::int64_t>(secs % 60), 2);
  if (fraction != 0) {
    string f = digits(static_cast<std::int64_t>(fraction), 7);
    while (f.back() == '0') f.pop_back();
    out += "." + f;
  }
  return out + "Z";
}

}  // namespace lnk
