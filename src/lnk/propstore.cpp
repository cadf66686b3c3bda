// The link's property store (see propstore.h).  This file is divided into:
// the little-endian reads and writes; the names the Shell gives the
// properties; the values as text; the parser; the edits.
#include "lnk/propstore.h"

#include <algorithm>
#include <iterator>

namespace lnk {
namespace {

constexpr std::uint32_t kStorageVersion = 0x53505331;  // "1SPS"
constexpr std::size_t kStorageHeader = 4 + 4 + 16;     // size, version, format ID
constexpr std::size_t kValueHeader = 4 + 4 + 1;        // size, id (or name size), reserved byte

// The storage whose properties are named by strings.
constexpr FormatId kStringNamedFormat = {0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                         0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

// ---- little-endian ----------------------------------------------------------

// The caller has checked that the bytes are there.
std::uint64_t Le(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = width; i-- > 0;) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return v;
}
std::uint32_t Le32(std::string_view bytes, std::size_t at) { return static_cast<std::uint32_t>(Le(bytes, at, 4)); }

void Put32(std::string& out, std::size_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

// UTF-16 code units up to the first NUL, from at most `units` units.
std::u16string Utf16(std::string_view bytes, std::size_t at, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    const auto c = static_cast<char16_t>(Le(bytes, at + 2 * i, 2));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// ---- names ------------------------------------------------------------------

constexpr FormatId kSummaryFormat = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                     0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr FormatId kStorageFormat = {0x30, 0xF1, 0x25, 0xB7, 0xEF, 0x47, 0x1A, 0x10,
                                     0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC};
constexpr FormatId kShellDetailsFormat = {0xA6, 0x6A, 0x63, 0x28, 0x3D, 0x95, 0xD2, 0x11,
                                          0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0};
constexpr FormatId kVolumeFormat = {0xB1, 0x16, 0x6D, 0x44, 0xAD, 0x8D, 0x70, 0x48,
                                    0xA7, 0x48, 0x40, 0x2E, 0xA4, 0x3D, 0x78, 0x8C};
constexpr FormatId kFolderPathFormat = {0xED, 0x30, 0xBD, 0xDA, 0x43, 0x00, 0x89, 0x47,
                                        0xA7, 0xF8, 0xD0, 0x13, 0xA4, 0x73, 0x66, 0x22};
constexpr FormatId kLinkFormat = {0xFC, 0xB3, 0xB4, 0xB9, 0x51, 0x2B, 0x42, 0x4A,
                                  0xB5, 0xD8, 0x32, 0x41, 0x46, 0xAF, 0xCF, 0x25};

struct KnownProperty {
  const FormatId* format;
  std::uint32_t id;
  // cppcheck-suppress unusedStructMember ; PropertyName answers it, through find_if
  const char* name;
};

constexpr KnownProperty kKnown[] = {
    {&kAppUserModelFormat, 2, "System.AppUserModel.RelaunchCommand"},
    {&kAppUserModelFormat, 3, "System.AppUserModel.RelaunchIconResource"},
    {&kAppUserModelFormat, 4, "System.AppUserModel.RelaunchDisplayNameResource"},
    {&kAppUserModelFormat, 5, "System.AppUserModel.ID"},
    {&kAppUserModelFormat, 6, "System.AppUserModel.IsDestListSeparator"},
    {&kAppUserModelFormat, 7, "System.AppUserModel.IsDestListLink"},
    {&kAppUserModelFormat, 8, "System.AppUserModel.ExcludeFromShowInNewInstall"},
    {&kAppUserModelFormat, 9, "System.AppUserModel.PreventPinning"},
    {&kAppUserModelFormat, 10, "System.AppUserModel.BestShortcut"},
    {&kAppUserModelFormat, 11, "System.AppUserModel.IsDualMode"},
    {&kAppUserModelFormat, 12, "System.AppUserModel.StartPinOption"},
    {&kAppUserModelFormat, 13, "System.AppUserModel.Relevance"},
    {&kAppUserModelFormat, 14, "System.AppUserModel.HostEnvironment"},
    {&kAppUserModelFormat, 15, "System.AppUserModel.PackageInstallPath"},
    {&kAppUserModelFormat, 17, "System.AppUserModel.PackageFamilyName"},
    {&kAppUserModelFormat, 18, "System.AppUserModel.InstalledBy"},
    {&kAppUserModelFormat, 19, "System.AppUserModel.ParentID"},
    {&kAppUserModelFormat, 21, "System.AppUserModel.PackageFullName"},
    {&kAppUserModelFormat, 23, "System.AppUserModel.ExcludedFromLauncher"},
    {&kAppUserModelFormat, 26, "System.AppUserModel.ToastActivatorCLSID"},
    {&kSummaryFormat, 2, "System.Title"},
    {&kSummaryFormat, 4, "System.Author"},
    {&kSummaryFormat, 6, "System.Comment"},
    {&kStorageFormat, 4, "System.ItemTypeText"},
    {&kStorageFormat, 10, "System.ItemNameDisplay"},
    {&kStorageFormat, 12, "System.Size"},
    {&kStorageFormat, 13, "System.FileAttributes"},
    {&kStorageFormat, 14, "System.DateModified"},
    {&kStorageFormat, 15, "System.DateCreated"},
    {&kStorageFormat, 16, "System.DateAccessed"},
    {&kShellDetailsFormat, 30, "System.ParsingPath"},
    {&kVolumeFormat, 104, "System.VolumeId"},
    {&kFolderPathFormat, 100, "System.ItemFolderPathDisplayNarrow"},
    {&kLinkFormat, 2, "System.Link.TargetParsingPath"},
};

// ---- values as text ---------------------------------------------------------

std::u16string Decimal(std::uint64_t v, bool negative) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

std::u16string Signed(std::uint64_t v, std::size_t width) {
  const std::uint64_t sign = std::uint64_t{1} << (8 * width - 1);
  if ((v & sign) == 0) return Decimal(v, false);
  const std::uint64_t mask = width == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * width)) - 1;
  return Decimal(((~v) & mask) + 1, true);
}

std::u16string TwoDigits(unsigned v) {
  return {static_cast<char16_t>(u'0' + v / 10 % 10), static_cast<char16_t>(u'0' + v % 10)};
}

// 100-ns steps since 1601-01-01 UTC, as 2020-01-31T12:00:00Z (with the
// fraction of a second when there is one).
std::u16string FileTimeText(std::uint64_t filetime) {
  const std::uint64_t seconds = filetime / 10000000;
  const auto fraction = static_cast<unsigned>(filetime % 10000000);
  std::int64_t days = static_cast<std::int64_t>(seconds / 86400) - 134774;  // since 1970-01-01
  const auto daySeconds = static_cast<unsigned>(seconds % 86400);
  // Days to a civil date (proleptic Gregorian).
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
  std::u16string text = Decimal(static_cast<std::uint64_t>(year), false);
  text += u'-' + TwoDigits(month) + u'-' + TwoDigits(day) + u'T' + TwoDigits(daySeconds / 3600) + u':' +
          TwoDigits(daySeconds / 60 % 60) + u':' + TwoDigits(daySeconds % 60);
  if (fraction != 0) {
    std::u16string digits = Decimal(fraction + 10000000u, false);  // "1" then seven digits
    digits[0] = u'.';
    text += digits;
  }
  return text + u'Z';
}

// Fills in hasText and text from the typed value (type, padding, data).
void ValueText(std::string_view typed, StoredProperty& p) {
  const std::size_t size = typed.size() - 4;  // the caller has checked the four bytes
  const std::size_t at = 4;
  auto fixed = [&](std::size_t width) { return size >= width; };
  switch (p.type) {
    case 0x02:  // VT_I2
      if (fixed(2)) p.text = Signed(Le(typed, at, 2), 2);
      else return;
      break;
    case 0x03:  // VT_I4
    case 0x16:  // VT_INT
      if (fixed(4)) p.text = Signed(Le(typed, at, 4), 4);
      else return;
      break;
    case 0x10:  // VT_I1
      if (fixed(1)) p.text = Signed(Le(typed, at, 1), 1);
      else return;
      break;
    case 0x14:  // VT_I8
      if (fixed(8)) p.text = Signed(Le(typed, at, 8), 8);
      else return;
      break;
    case 0x11:  // VT_UI1
    case 0x12:  // VT_UI2
    case 0x13:  // VT_UI4
    case 0x17:  // VT_UINT
    case 0x0A:  // VT_ERROR
    case 0x15: {  // VT_UI8
      const std::size_t width = p.type == 0x11 ? 1 : p.type == 0x12 ? 2 : p.type == 0x15 ? 8 : 4;
      if (fixed(width)) p.text = Decimal(Le(typed, at, width), false);
      else return;
      break;
    }
    case 0x0B:  // VT_BOOL: 0 false, anything else (VARIANT_TRUE is 0xFFFF) true
      if (fixed(2)) p.text = Le(typed, at, 2) != 0 ? u"true" : u"false";
      else return;
      break;
    case 0x40:  // VT_FILETIME
      if (fixed(8)) p.text = FileTimeText(Le(typed, at, 8));
      else return;
      break;
    case 0x48: {  // VT_CLSID
      if (!fixed(16)) return;
      FormatId guid{};
      std::copy_n(typed.begin() + at, 16, guid.begin());
      p.text = Ascii(FormatIdText(guid));
      break;
    }
    case 0x1F: {  // VT_LPWSTR: the count of UTF-16 units, NUL included, then the units
      if (!fixed(4)) return;
      const std::uint64_t units = Le(typed, at, 4);
      if (units > (size - 4) / 2) return;
      p.text = Utf16(typed, at + 4, static_cast<std::size_t>(units));
      break;
    }
    case 0x08: {  // VT_BSTR: the count of bytes, NUL included, then UTF-16
      if (!fixed(4)) return;
      const std::uint64_t bytes = Le(typed, at, 4);
      if (bytes > size - 4) return;
      p.text = Utf16(typed, at + 4, static_cast<std::size_t>(bytes / 2));
      break;
    }
    default:
      return;
  }
  p.hasText = true;
}

// ---- the parser ---------------------------------------------------------------

// One storage, or one value of the storage before it, as where it lies in
// the store: the parser's one pass over the bytes, which the edits use as
// they are and ParsePropertyStore turns into storages and properties.
struct Part {
  std::size_t at = 0, size = 0;
  bool storage = false;
  bool stringNamed = false;    // a storage's
  std::uint32_t id = 0;        // a value's (0 in the string-named storage)
  std::size_t typedAt = 0;     // a value's typed value, from the value's start
};

// One storage's values, after its header.  Returns "" or the fault.
const char* SplitValues(std::string_view storage, std::size_t base, bool stringNamed, std::vector<Part>& parts) {
  std::size_t at = kStorageHeader;
  while (at < storage.size()) {
    const std::size_t left = storage.size() - at;
    if (left < 4) return "a property's size runs past its storage";
    const std::uint32_t size = Le32(storage, at);
    if (size == 0) return "";  // the terminal value; what may follow it stays in the storage
    if (size > left) return "a property runs past its storage";
    if (size < kValueHeader + 4) return "a property is too short for its type";
    Part value;
    value.at = base + at;
    value.size = size;
    value.typedAt = kValueHeader;
    if (stringNamed) {
      const std::uint32_t nameSize = Le32(storage, at + 4);
      if (nameSize > size - kValueHeader - 4 || nameSize % 2 != 0) return "a property's name runs past it";
      value.typedAt += nameSize;
    } else {
      value.id = Le32(storage, at + 4);
    }
    parts.push_back(value);
    at += size;
  }
  return "";
}

// The store's storages, each followed by its values; "" or the first fault
// (parts then holds what came before it).  `end` is where the terminal
// storage size is, or the bytes' end for a store without one.
const char* Split(std::string_view bytes, std::vector<Part>& parts, std::size_t& end) {
  std::size_t at = 0;
  const char* error = "";
  while (at < bytes.size() && *error == '\0') {
    const std::size_t left = bytes.size() - at;
    if (left < 4) {
      error = "a storage's size runs past the store";
      break;
    }
    const std::uint32_t size = Le32(bytes, at);
    if (size == 0) break;  // the terminal
    if (size > left) {
      error = "a storage runs past the store";
    } else if (size < kStorageHeader) {
      error = "a storage is too short for its header";
    } else if (Le32(bytes, at + 4) != kStorageVersion) {
      error = "a storage has an unknown version";
    } else {
      Part storage;
      storage.at = at;
      storage.size = size;
      storage.storage = true;
      storage.stringNamed = std::equal(kStringNamedFormat.begin(), kStringNamedFormat.end(), bytes.begin() + at + 8,
                                       [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
      const std::size_t first = parts.size();
      parts.push_back(storage);
      error = SplitValues(bytes.substr(at, size), at, storage.stringNamed, parts);
      if (*error != '\0') parts.resize(first);  // a storage is kept whole or not at all
      at += size;
    }
  }
  end = at;
  return error;
}

bool IsFormat(std::string_view bytes, const Part& storage, const FormatId& format) {
  return !storage.stringNamed && std::equal(format.begin(), format.end(), bytes.begin() + storage.at + 8,
                                            [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

// ---- the edits ------------------------------------------------------------------

// The edit common to setting and removing: every (format, id) property
// goes but the first, which becomes `replacement` (none when it is empty);
// without one, `replacement` is added at the end of the format's first
// storage, or in a new storage at the end.  A storage keeps its header and
// whatever followed its terminal; one left without properties goes.
StoreEdit Edit(std::string_view bytes, const FormatId& format, std::uint32_t id, std::string_view replacement) {
  StoreEdit edit;
  std::vector<Part> parts;
  std::size_t end = 0;
  edit.error = Split(bytes, parts, end);
  if (!edit.error.empty()) return edit;
  edit.ok = true;

  bool found = false;
  for (std::size_t i = 0, storage = 0; i < parts.size(); ++i) {
    if (parts[i].storage) {
      storage = i;
    } else {
      found = found || (IsFormat(bytes, parts[storage], format) && parts[i].id == id);
    }
  }
  bool placed = replacement.empty();  // nothing to place when removing
  std::size_t kept = 0;
  for (std::size_t i = 0; i < parts.size();) {
    const Part& s = parts[i];
    std::size_t next = i + 1;
    while (next < parts.size() && !parts[next].storage) ++next;
    const std::string_view raw = bytes.substr(s.at, s.size);
    std::string values;
    bool touched = false;
    if (IsFormat(bytes, s, format)) {
      for (std::size_t v = i + 1; v < next; ++v) {
        if (parts[v].id != id) {
          values += bytes.substr(parts[v].at, parts[v].size);
        } else {
          touched = true;
          if (!placed) values += replacement;
          placed = true;
        }
      }
      if (!found && !placed) {  // at the end of the format's first storage
        values += replacement;
        placed = touched = true;
      }
    }
    i = next;
    if (!touched) {
      edit.store += raw;
      ++kept;
      continue;
    }
    if (values.empty()) continue;  // it held nothing else
    const Part& last = parts[next - 1];
    const std::size_t tailAt = (last.storage ? kStorageHeader : last.at - s.at + last.size) + 4;
    std::string storage(raw.substr(0, kStorageHeader));
    storage += values;
    Put32(storage, 0);
    if (tailAt < raw.size()) storage += raw.substr(tailAt);
    std::string size;
    Put32(size, storage.size());
    storage.replace(0, 4, size);
    edit.store += storage;
    ++kept;
  }
  if (!placed) {
    std::string storage;
    Put32(storage, kStorageHeader + replacement.size() + 4);
    Put32(storage, kStorageVersion);
    storage.append(format.begin(), format.end());
    storage += replacement;
    Put32(storage, 0);
    edit.store += storage;
    ++kept;
  }
  Put32(edit.store, 0);
  if (end + 4 <= bytes.size()) edit.store += bytes.substr(end + 4);
  edit.empty = kept == 0;
  edit.changed = replacement.empty() ? found : edit.store != bytes;
  return edit;
}

}  // namespace

std::string FormatIdText(const FormatId& f) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // The first three fields little-endian, the last eight bytes in order.
  static constexpr int kOrder[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
  std::string text = "{";
  for (int i : kOrder) {
    if (i < 0) {
      text += '-';
    } else {
      text += kHex[f[static_cast<std::size_t>(i)] >> 4];
      text += kHex[f[static_cast<std::size_t>(i)] & 0xF];
    }
  }
  return text + "}";
}

const char* PropertyName(const FormatId& format, std::uint32_t id) {
  const auto known = std::find_if(std::begin(kKnown), std::end(kKnown),
                                  [&](const KnownProperty& k) { return *k.format == format && k.id == id; });
  return known == std::end(kKnown) ? nullptr : known->name;
}

PropertyStore ParsePropertyStore(std::string_view bytes) {
  PropertyStore store;
  std::vector<Part> parts;
  std::size_t end = 0;
  store.error = Split(bytes, parts, end);
  for (const Part& part : parts) {
    const std::string_view raw = bytes.substr(part.at, part.size);
    if (part.storage) {
      PropertyStorage s;
      std::copy_n(raw.begin() + 8, 16, s.formatId.begin());
      s.stringNamed = part.stringNamed;
      s.raw = std::string(raw);
      store.storages.push_back(std::move(s));
      continue;
    }
    PropertyStorage& s = store.storages.back();
    StoredProperty p;
    p.id = part.id;
    if (s.stringNamed) p.name = Utf16(raw, kValueHeader, (part.typedAt - kValueHeader) / 2);
    p.type = static_cast<std::uint16_t>(Le(raw, part.typedAt, 2));
    ValueText(raw.substr(part.typedAt), p);
    p.raw = std::string(raw);
    s.properties.push_back(std::move(p));
  }
  return store;
}

const std::u16string* FindStringProperty(const PropertyStore& store, const FormatId& format, std::uint32_t id) {
  for (const PropertyStorage& s : store.storages) {
    if (s.formatId != format || s.stringNamed) continue;
    const auto p = std::find_if(s.properties.begin(), s.properties.end(), [id](const StoredProperty& q) {
      return q.id == id && q.type == kVtLpwstr && q.hasText;
    });
    if (p != s.properties.end()) return &p->text;
  }
  return nullptr;
}

std::string SerializeStringProperty(std::uint32_t id, std::u16string_view value) {
  const std::size_t textBytes = 2 * (value.size() + 1);
  const std::size_t padded = (textBytes + 3) / 4 * 4;
  std::string out;
  Put32(out, kValueHeader + 4 + 4 + padded);
  Put32(out, id);
  out.push_back('\0');
  Put16(out, kVtLpwstr);
  Put16(out, 0);
  Put32(out, value.size() + 1);
  for (char16_t c : value) Put16(out, c);
  out.append(padded - textBytes + 2, '\0');  // the NUL and the padding
  return out;
}

std::string NewStringPropertyStore(const FormatId& format, std::uint32_t id, std::u16string_view value) {
  return SetStringProperty({}, format, id, value).store;
}

std::string PropertyStoreBlock(std::string_view store) {
  std::string out;
  Put32(out, 8 + store.size());
  Put32(out, kPropertyStoreBlock);
  out += store;
  return out;
}

StoreEdit SetStringProperty(std::string_view store, const FormatId& format, std::uint32_t id,
                            std::u16string_view value) {
  return Edit(store, format, id, SerializeStringProperty(id, value));
}

StoreEdit RemoveProperty(std::string_view store, const FormatId& format, std::uint32_t id) {
  return Edit(store, format, id, {});
}

StoreBlockPlace FindPropertyStoreBlock(std::string_view file) {
  StoreBlockPlace place;
  constexpr std::size_t kHeaderSize = 0x4C;
  if (file.size() < kHeaderSize || Le32(file, 0) != kHeaderSize) {
    place.error = "no shell link header";
    return place;
  }
  const std::uint32_t flags = Le32(file, 0x14);
  std::size_t at = kHeaderSize;
  // Skips a part whose size is a `width`-byte field times `unit`, plus the
  // field itself unless the size holds it; false when it runs past the file.
  const auto skip = [&](std::size_t width, std::size_t unit, bool sizeIncludesField) {
    if (file.size() - at < width) return false;
    const std::uint64_t n = Le(file, at, width) * unit + (sizeIncludesField ? 0 : width);
    if (n < width || n > file.size() - at) return false;
    at += static_cast<std::size_t>(n);
    return true;
  };
  bool ok = (flags & 0x01) == 0 || skip(2, 1, false);  // HasLinkTargetIDList
  ok = ok && ((flags & 0x02) == 0 || skip(4, 1, true));  // HasLinkInfo
  for (std::uint32_t bit = 0x04; ok && bit <= 0x40; bit <<= 1) {  // the counted strings
    if (flags & bit) ok = skip(2, (flags & 0x80) != 0 ? 2 : 1, false);
  }
  if (!ok) {
    place.error = "the link's parts run past its end";
    return place;
  }
  place.at = at;
  while (file.size() - at >= 4) {
    const std::uint32_t size = Le32(file, at);
    if (size < 4) return place;  // the terminal block
    if (size < 8 || size > file.size() - at) {
      place.error = "an extra data block runs past the link's end";
      return place;
    }
    if (Le32(file, at + 4) == kPropertyStoreBlock && place.size == 0) {
      place.at = at;
      place.size = size;
    }
    at += size;
  }
  if (at != file.size()) place.error = "an extra data block runs past the link's end";
  return place;
}

std::string WithPropertyStore(std::string_view file, const StoreBlockPlace& place, std::string_view store) {
  std::string out(file.substr(0, place.at));
  if (!store.empty()) out += PropertyStoreBlock(store);
  out += file.substr(place.at + place.size);
  return out;
}

}  // namespace lnk
