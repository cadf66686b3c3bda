// What a link's sections say, read from their bytes (lnk/link.h holds the
// bytes): the item list's items and the path they name, the LinkInfo's
// volume, local path and network share, the extra blocks' fields, and the
// whole link as a reader shows it (Describe).
//
// Every offset and size in the bytes is checked against the section it
// lies in; what cannot be read is left out and named in a warning.  Pure:
// no I/O, no allocation beyond a few times the section's own size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lnk/link.h"

namespace lnk {

// ---- the item list ---------------------------------------------------------

struct Item {
  std::uint8_t type = 0;     // the class byte
  std::string kind;          // root, drive, folder, file, network, control panel, uri, unknown
  std::u16string name;       // the name it shows: the long name, a drive "C:\", a GUID's name
  std::u16string shortName;  // a file or folder's stored (8.3) name, when it differs from name
  std::string guid;          // "{XXXXXXXX-...}" of a root or Control Panel item
};

struct ItemList {
  std::vector<Item> items;
  // The file-system path the items name (My Computer, a drive, names; or a
  // network share, names); nullopt when they name none (a Control Panel
  // item, ...).
  std::optional<std::u16string> path;
};

// The items of a list, from its bytes without the list's own size field
// (the section of a Link without its first two bytes, or a Vista block's
// list).
ItemList ReadItems(std::string_view items, std::vector<std::string>& warnings);

// ---- the LinkInfo ------------------------------------------------------------

struct LinkInfoView {
  bool volume = false;  // a VolumeID (and a local base path)
  std::uint32_t driveType = 0, driveSerial = 0;
  std::u16string volumeLabel;
  std::u16string localBasePath;
  bool singleByteBasePath = false;  // read from the single-byte text (no Unicode copy)
  bool network = false;  // a CommonNetworkRelativeLink
  std::u16string networkShare, deviceName;
  std::uint32_t networkProviderType = 0;
  std::u16string pathSuffix;
  // The local path, the base path and the suffix joined; the network
  // path, the share and the suffix joined.  Empty when not stored.
  std::u16string localPath, networkPath;
};

// The LinkInfo section (its size field included).  Unicode copies are
// preferred to the single-byte text where both are stored.
LinkInfoView ReadLinkInfo(std::string_view section, std::vector<std::string>& warnings);

// ---- the extra blocks ----------------------------------------------------

// One decoded value of a block.
struct Field {
  std::string key;    // as JSON names it: machine_id, known_folder, ...
  std::string label;  // as the text output names it: machine, known folder, ...
  enum class Kind { kText, kNumber } kind = Kind::kText;
  std::u16string text;
  std::int64_t number = 0;
};

struct BlockView {
  std::uint32_t signature = 0;
  std::string name;           // environment, tracker, ...; "unknown" for a block this file does not know
  std::vector<Field> fields;  // empty for an unknown block (its bytes go out as hex)
  bool known = false;
};

BlockView ReadBlock(const ExtraBlock& block, std::vector<std::string>& warnings);

// ---- the whole link --------------------------------------------------------

struct LinkView {
  // The target as stored: the environment block's text, else the path of
  // the item list, else the LinkInfo's local path, else its network path.
  std::optional<std::u16string> target;
  std::optional<bool> targetIsFolder;
  // The five strings; nullopt when not stored.  The icon location as
  // Windows answers it: the icon environment block's text (with its
  // %VARIABLES%) where the link has one.
  std::optional<std::u16string> description, relativePath, workingDir, arguments, iconLocation;
  std::optional<std::u16string> environmentTarget;  // the target's environment block
  std::optional<std::u16string> appId;              // System.AppUserModel.ID
  bool hasItemList = false;
  ItemList itemList;
  bool hasLinkInfo = false;
  LinkInfoView linkInfo;
  std::vector<BlockView> blocks;  // in file order
  // The splitter's warnings, then what the views found: damage, and where
  // the link's parts disagree or hide something.
  std::vector<std::string> warnings;
};

LinkView Describe(const Link& link);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of 16 stored bytes (the first
// three fields little-endian); "" when fewer than 16.
std::string GuidText(std::string_view bytes);

// A FILETIME as ISO 8601 UTC, "2019-04-17T18:40:00Z" (fractions of a
// second as stored, seven digits at most, trailing zeros dropped).
std::string FileTimeText(std::uint64_t filetime);

}  // namespace lnk
