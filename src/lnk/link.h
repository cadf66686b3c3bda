// A shell link (.lnk) file as its sections: each section's bytes exactly as
// the file holds them, beside the few fields read from them.
//
// A .lnk file is, in this order:
//   header        76 bytes: size 0x4C, CLSID_ShellLink, the link flags, the
//                 target's attributes, times and size, icon index, show
//                 command, hot key, reserved bytes
//   item list     when flag kHasLinkTargetIdList: a 16-bit size, the items
//   LinkInfo      when flag kHasLinkInfo: a 32-bit size (itself included)
//   five strings  each when its flag is set, in this order: description
//                 (kHasName), relative path, working directory, arguments,
//                 icon location; a 16-bit count of characters, then the
//                 characters (UTF-16 with kIsUnicode, else one byte each);
//                 of the relative path and the working directory Windows
//                 reads 260 characters at most, whatever the count says,
//                 and so does ReadLink (with a warning)
//   extra blocks  each a 32-bit size (itself included) and a signature
//   terminal      a 32-bit value below 4
// and sometimes bytes after it, which Windows ignores.
//
// ReadLink splits a file into a Link, and WriteLink joins a Link into the
// same bytes again: every byte of the input, damaged or not, lands in
// exactly one section (a section cut short by the end of the file keeps
// what there was, and nothing after it is read), so WriteLink(ReadLink(f))
// == f for every f that is a link at all.  An editor changes a section by
// replacing its bytes (and the header's flags when a section comes or
// goes: SetHeaderFields), leaving every other byte of the file as it was.
//
// The sections' contents are read by the views (lnk/view.h); this file
// reads only what splitting needs: the header's fields and the strings.
// Nothing here does I/O or allocates more than the file's own size (the
// strings' text is at most the file's size again).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lnk {

// The link flags (header offset 20).
enum LinkFlags : std::uint32_t {
  kHasLinkTargetIdList = 0x01,
  kHasLinkInfo = 0x02,
  kHasName = 0x04,
  kHasRelativePath = 0x08,
  kHasWorkingDir = 0x10,
  kHasArguments = 0x20,
  kHasIconLocation = 0x40,
  kIsUnicode = 0x80,
  kForceNoLinkInfo = 0x100,
  kHasExpString = 0x200,
  kRunAsUser = 0x2000,
  kHasExpIcon = 0x4000,
  kPreferEnvironmentPath = 0x02000000,
};

constexpr std::size_t kHeaderSize = 76;

// The fixed header.  The fields are read from bytes; SetHeaderFields writes
// them back over bytes (the CLSID and the reserved bytes stay as they are).
struct Header {
  std::string bytes;  // 76 bytes; fewer only when the file ends inside the header
  std::uint32_t linkFlags = 0;
  std::uint32_t fileAttributes = 0;
  std::uint64_t creationTime = 0, accessTime = 0, writeTime = 0;  // FILETIME, 0 = none
  std::uint32_t fileSize = 0;
  std::int32_t iconIndex = 0;
  std::uint32_t showCommand = 0;  // SW_* value
  std::uint16_t hotKey = 0;       // low byte the virtual key, high byte HOTKEYF_* (1 Shift, 2 Ctrl, 4 Alt)
  bool operator==(const Header&) const = default;
};

// The five counted strings, in file order.
enum class StringId { kDescription, kRelativePath, kWorkingDir, kArguments, kIconLocation };
constexpr std::size_t kStringCount = 5;
// The flag that says a string is stored.
std::uint32_t StringFlag(StringId id);

struct CountedString {
  std::string bytes;    // the 16-bit count and the characters; empty = not stored
  // The text as Windows reads it: the characters before the first NUL,
  // UTF-16 as stored or, without kIsUnicode, the bytes as Windows-1252.
  std::u16string text;
  bool stored() const { return !bytes.empty(); }
  bool operator==(const CountedString&) const = default;
};

// One extra data block: its size, its signature, its data.
struct ExtraBlock {
  std::string bytes;            // the whole block, size and signature included
  std::uint32_t signature = 0;  // 0 when the block is too short to hold one
  bool operator==(const ExtraBlock&) const = default;
};

// Signatures of the blocks Windows writes.
namespace signature {
constexpr std::uint32_t kEnvironment = 0xA0000001;
constexpr std::uint32_t kConsole = 0xA0000002;
constexpr std::uint32_t kTracker = 0xA0000003;
constexpr std::uint32_t kConsoleCodePage = 0xA0000004;
constexpr std::uint32_t kSpecialFolder = 0xA0000005;
constexpr std::uint32_t kDarwin = 0xA0000006;
constexpr std::uint32_t kIconEnvironment = 0xA0000007;
constexpr std::uint32_t kShim = 0xA0000008;
constexpr std::uint32_t kPropertyStore = 0xA0000009;
constexpr std::uint32_t kKnownFolder = 0xA000000B;
constexpr std::uint32_t kVistaIdList = 0xA000000C;
}  // namespace signature

struct Link {
  Header header;
  std::string idList;    // the item list with its 16-bit size field; empty = none
  std::string linkInfo;  // the LinkInfo, its size field included; empty = none
  std::array<CountedString, kStringCount> strings;  // indexed by StringId
  std::vector<ExtraBlock> blocks;                   // in file order, unknown ones kept
  std::string terminal;  // the terminal block (4 bytes); empty when the file ends without one
  std::string trailing;  // bytes after the terminal block
  // What did not read as it should, in plain sentences ("the LinkInfo is
  // cut short by the end of the file").  Empty for a sound file.
  std::vector<std::string> warnings;

  const CountedString& string(StringId id) const { return strings[static_cast<std::size_t>(id)]; }
  CountedString& string(StringId id) { return strings[static_cast<std::size_t>(id)]; }
  bool unicode() const { return (header.linkFlags & kIsUnicode) != 0; }
  bool operator==(const Link&) const = default;
};

enum class ReadStatus {
  kLink,        // a link, perhaps damaged (see Link::warnings)
  kNotALink,    // no header size 0x4C and CLSID_ShellLink at the start
};

// Splits bytes into a Link.  Never throws for any input but std::bad_alloc.
ReadStatus ReadLink(std::string_view bytes, Link& link);

// The file's bytes again: the sections joined in order.
std::string WriteLink(const Link& link);

// Writes the header's fields over its bytes (a header cut short is made
// whole, size and CLSID included).
void SetHeaderFields(Header& header);

// A counted string holding text, as a link with (unicode) or without
// kIsUnicode stores it: UTF-16, or Windows-1252 with '?' for what it
// cannot hold.  Text longer than the 16-bit count can say is cut there.
CountedString MakeCountedString(std::u16string_view text, bool unicode);

// Windows-1252 bytes as text (the five bytes it leaves undefined as the C1
// controls of the same value, as Windows maps them).
std::u16string FromWindows1252(std::string_view bytes);

}  // namespace lnk
