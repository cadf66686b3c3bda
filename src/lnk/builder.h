// The bytes of a Windows shell link (.lnk) file, built without Windows.
//
// On Linux nothing stands behind the Shell's IShellLink, so the posix
// platform writes the file itself (and the Windows build takes the item
// list of a target its machine does not have from here too).  BuildLink is
// a pure function: the caller (the posix Shell stand-in) looks at the file
// system and fills in LinkData; this file only turns that into the link
// (link.h: its sections, as the reader gives a link read) that Windows' own
// Shell would write for the same target, close enough that Windows and
// Wine open and resolve it.
//
// What the file holds: the fixed header; the target's item ID list (My
// Computer, the drive, then one file-system item per path component); the
// LinkInfo with the volume and the local path, for a path of plain ASCII
// only (a reader decodes that path in its own code page, and only ASCII is
// the same in all of them), or with a network share and the path below it,
// whose text that is not plain ASCII gets its Unicode copy too; the counted
// strings that are set; the environment blocks of a target and an icon
// location with %VARIABLES%; the property store; the terminal extra-data
// block.  Drive letters
// are stored in upper case.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "lnk/link.h"
#include "lnk/properties.h"

namespace lnk {

// One path component after the drive, as the file system reports it.
struct LinkItem {
  std::u16string name;               // long name, exact (UTF-16)
  bool isFolder = false;
  std::uint32_t fileSize = 0;       // 0 for folders
  std::uint64_t writeTime = 0;      // FILETIME (100 ns since 1601-01-01 UTC)
  std::uint64_t creationTime = 0;
  std::uint64_t accessTime = 0;
  std::uint32_t attributes = 0;      // Windows attribute bits (0x10 dir, 0x01 read-only, 0x20 archive...)
};

// The properties (a string "" = not stored; the icon location as it
// leads here) and the target's parts.
struct LinkData : Properties {
  // Full Windows path, e.g. u"Z:\\tmp\\data\\report.txt".  A folder target may
  // end in '\\'; the link stores it without that backslash, as the Shell does
  // (a bare drive root keeps its own).
  std::u16string targetPath;
  char16_t drive = u'Z';             // drive letter of targetPath
  // One per component of targetPath after "X:\\"; the last one is the target
  // itself.  Empty for a link to the drive's root.
  std::vector<LinkItem> items;
  bool targetExists = true;
  std::uint32_t targetAttributes = 0;  // header FileAttributes
  std::uint64_t targetCreationTime = 0, targetAccessTime = 0, targetWriteTime = 0;
  std::uint32_t targetSize = 0;        // low 32 bits of the size
  std::u16string relativePath;     // "" = not stored
  std::uint32_t driveSerial = 0;   // VolumeID serial
  std::u16string volumeLabel;      // may be empty

  // ---- links for another machine ----
  // What tells a reader where the target is, besides the item list: the
  // VolumeID and local path (kLocal; written only for a path of plain ASCII,
  // see BuildLink), nothing (kNone), or a network share and the path
  // below it (kNetwork: a CommonNetworkRelativeLink and a common path
  // suffix, no VolumeID, as Windows stores a link to a network file).
  enum class Location { kLocal, kNone, kNetwork };
  Location location = Location::kLocal;
  bool idList = true;                  // false: no item list (HasLinkTargetIDList clear)
  std::u16string netName;              // kNetwork: "\\server\share", in upper case as the caller
                                       // made it (Windows' own table; this file makes no system call)
  std::u16string pathSuffix;           // kNetwork: the path below the share, "" for the share itself
  // The target, and the icon location, as typed with %VARIABLES%: the
  // HasExpString / HasExpIcon flag and the environment data block
  // (0xA0000001 / 0xA0000007) that holds them, up to 259 UTF-16 units.
  // "" = none.
  std::u16string environmentTarget;
  std::u16string environmentIcon;
  bool forceNoLinkInfo = false;        // ForceNoLinkInfo (0x100)
  bool preferEnvironmentPath = false;  // PreferEnvironmentPath (0x02000000)
  // The property store (see propstore.h), the bytes of its block after size
  // and signature: "" = the one that holds the appId alone, or none without
  // one.  Written first among the extra data blocks, where Windows 10 puts
  // it.
  std::string propertyStore;
};

// What the builder throws when the data cannot make a sound link: a plain
// exception with its text.  (Not one of the library's logic errors, whose
// text would bring a second string implementation into the Windows
// program, 90 KB of it.)
class LinkDataError : public std::exception {
 public:
  enum class Kind {
    kInvalid,  // a drive that is not a letter A-Z or a-z, a NUL inside a name or path, which the
               // file's NUL-terminated fields cannot carry, a network link without a share
    kTooLong,  // a name, string or the item list too long for its 16-bit size field, or text
               // with variables for its block (260 units)
  };
  LinkDataError(Kind kind, std::string what) : kind_(kind), what_(std::move(what)) {}
  const char* what() const noexcept override { return what_.c_str(); }
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
  std::string what_;
};

// Gives the data the properties; an icon location of %VARIABLES% is stored
// as it leads here (`iconHere`, the caller's expansion of it), and as typed
// in its own block, when they lead somewhere, else as typed.
void SetProperties(LinkData& data, const Properties& properties, std::u16string_view iconHere);

// The new link as its sections, as ReadLink would split its file.  Throws
// LinkDataError when the data cannot make a sound link: either the whole
// link or an exception.
Link BuildLink(const LinkData& data);

// Its file's bytes: WriteLink(BuildLink(data)).
std::string BuildLinkFile(const LinkData& data);

// The item list alone, as IShellLink::SetIDList takes it: My Computer, the
// drive, one item per name (each but the last a folder) and the terminal
// item, without the list's own size field.  Throws as BuildLinkFile does.
std::string BuildIdList(char16_t drive, const std::vector<LinkItem>& items);

// The LinkInfo of a network share and the path below it, as BuildLinkFile
// writes it (kNetwork): `netName` in upper case already.  Throws as
// BuildLinkFile does.
std::string BuildNetworkLinkInfo(std::u16string_view netName, std::u16string_view pathSuffix);

// Windows-1252 with '?' for every UTF-16 unit it cannot hold (used for the
// single-byte fields), so a surrogate pair becomes "??", as Windows writes
// it.
std::string ToWindows1252(std::u16string_view text);

// ---- pieces, exposed for the tests ------------------------------------------

// A FILETIME as the FAT date (low word) and time (high word) that shell items
// store, in UTC with two-second steps; 0 for a time the FAT format cannot
// hold (before 1980 or after 2107, or no time at all).
std::uint32_t ToDosDateTime(std::uint64_t filetime);

// One file-system shell item (class 0x31 for a folder, 0x32 for a file),
// size field included.  Throws as BuildLinkFile does.
std::string BuildFileEntryItem(const LinkItem& item, bool asFolder);

}  // namespace lnk
