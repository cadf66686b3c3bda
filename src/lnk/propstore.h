// The property store of a shell link: the serialized property storages that
// the extra data block 0xA0000009 holds (the System.AppUserModel.ID that
// groups a link with its application's windows, and whatever else the Shell
// put there).
//
// The store is a list of storages, each a format ID and its properties,
// ended by a storage size of 0.  A property is named by a 32-bit id, or, in
// the one storage whose format ID is {D5CDD505-2E9C-101B-9397-08002B2CF9AE},
// by a string; its value is a typed value (a VT_* type and its data).
//
// Pure: bytes in, bytes out.  Every byte is untrusted: the parser checks
// every size against what is left, allocates nothing beyond the input's
// size, and reports the first fault it finds instead of reading past it.
// The editing functions keep every storage and property they do not touch
// byte for byte and in order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lnk {

constexpr std::uint32_t kPropertyStoreBlock = 0xA0000009;

// A format ID as its 16 bytes in the file (the GUID's first three fields
// little-endian).
using FormatId = std::array<std::uint8_t, 16>;

// System.AppUserModel.*, and its ID (VT_LPWSTR).
constexpr FormatId kAppUserModelFormat = {0x55, 0x28, 0x4C, 0x9F, 0x79, 0x9F, 0x39, 0x4B,
                                          0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3};
constexpr std::uint32_t kAppUserModelId = 5;

constexpr std::uint16_t kVtLpwstr = 0x1F;

struct StoredProperty {
  std::uint32_t id = 0;       // the property id (0 in the string-named storage)
  std::u16string name;        // the name, in the string-named storage only
  std::uint16_t type = 0;     // the value's VT_* type
  bool hasText = false;       // the value could be shown as text:
  std::u16string text;        // a string (up to its first NUL), a number in decimal, true/false,
                              // a GUID as {XXXXXXXX-...}, a FILETIME as 2020-01-31T12:00:00Z
  std::string raw;            // the whole serialized value, its size field included
};

struct PropertyStorage {
  FormatId formatId{};
  bool stringNamed = false;
  std::vector<StoredProperty> properties;
  std::string raw;            // the whole storage, its size field included
};

struct PropertyStore {
  std::vector<PropertyStorage> storages;
  std::string error;          // "" when the bytes were read to their end; else the first fault
                              // (storages holds what came before it)
};

// Reads the store: the block's bytes after its size and signature.
PropertyStore ParsePropertyStore(std::string_view bytes);

// The Shell's name of a property ("System.AppUserModel.ID"), or nullptr.
const char* PropertyName(const FormatId& format, std::uint32_t id);

// {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}
std::string FormatIdText(const FormatId& format);

// The text of the first VT_LPWSTR property (format, id) of the store, or
// nullptr when there is none.
const std::u16string* FindStringProperty(const PropertyStore& store, const FormatId& format,
                                         std::uint32_t id);

// One VT_LPWSTR property value as the Shell writes it (its size field
// included; the text padded with NULs to a multiple of four bytes).
std::string SerializeStringProperty(std::uint32_t id, std::u16string_view value);

// A store holding just the one string property, ended by its terminal.
std::string NewStringPropertyStore(const FormatId& format, std::uint32_t id, std::u16string_view value);

// The extra data block around a store: size, signature, the store.
std::string PropertyStoreBlock(std::string_view store);

// What an edit made: the new store's bytes, and whether it holds no
// storage any more (the caller then drops the block).  ok is false when
// the store could not be read to its end (error says why); an edit then
// changes nothing, since what lies past the fault could not be kept.
struct StoreEdit {
  bool ok = false;
  std::string error;
  std::string store;
  bool changed = false;
  bool empty = false;
};

// Sets (format, id) to a VT_LPWSTR value: replaced where it stands, else
// added at the end of its storage, else in a new storage at the end.
StoreEdit SetStringProperty(std::string_view store, const FormatId& format, std::uint32_t id,
                            std::u16string_view value);

// Removes (format, id); a storage left without properties goes too.
StoreEdit RemoveProperty(std::string_view store, const FormatId& format, std::uint32_t id);

// ---- in a link file --------------------------------------------------------

// Where a link file keeps its property store block, found by following the
// file's parts (header, item list, LinkInfo, counted strings) to its extra
// data blocks.
struct StoreBlockPlace {
  std::string error;      // "" when the file could be followed to the end of its blocks
  std::size_t at = 0;     // the block's offset; without one, where a new one goes (the first block's)
  std::size_t size = 0;   // the block's size; 0 when the file has none
};
StoreBlockPlace FindPropertyStoreBlock(std::string_view file);

// The file with its property store block holding `store` (the bytes after
// the block's size and signature; "" takes the block out), every other byte
// as it was.  `place` is FindPropertyStoreBlock's for the same file, and
// without an error.
std::string WithPropertyStore(std::string_view file, const StoreBlockPlace& place, std::string_view store);

}  // namespace lnk
