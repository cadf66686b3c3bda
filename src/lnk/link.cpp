// Splitting a .lnk file into its sections and joining them again (see
// link.h).  The splitter walks the file once; a section whose size field
// reaches past the end keeps the rest of the file and ends the walk, so
// every byte lands in exactly one section.
#include "lnk/link.h"

#include <numeric>

#include "lnk/bytes.h"
#include "lnk/builder.h"

namespace lnk {
namespace {

// CLSID_ShellLink {00021401-0000-0000-C000-000000000046} as stored.
constexpr std::string_view kShellLinkClsid("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);

constexpr std::size_t kMaxPathString = 260;

constexpr const char* kStringNames[kStringCount] = {"description", "relative path", "working directory",
                                                    "arguments", "icon location"};

void ReadHeaderFields(Header& h) {
  const std::string_view b = h.bytes;
  h.linkFlags = LittleEndianAt(b, 20, 4);
  h.fileAttributes = LittleEndianAt(b, 24, 4);
  h.creationTime = LittleEndianAt(b, 28, 4) | std::uint64_t{LittleEndianAt(b, 32, 4)} << 32;
  h.accessTime = LittleEndianAt(b, 36, 4) | std::uint64_t{LittleEndianAt(b, 40, 4)} << 32;
  h.writeTime = LittleEndianAt(b, 44, 4) | std::uint64_t{LittleEndianAt(b, 48, 4)} << 32;
  h.fileSize = LittleEndianAt(b, 52, 4);
  h.iconIndex = static_cast<std::int32_t>(LittleEndianAt(b, 56, 4));
  h.showCommand = LittleEndianAt(b, 60, 4);
  h.hotKey = static_cast<std::uint16_t>(LittleEndianAt(b, 64, 2));
}

std::u16string DecodeString(std::string_view chars, bool unicode) {
  std::u16string text;
  if (unicode) {
    text.reserve(chars.size() / 2);
    for (std::size_t i = 0; i + 1 < chars.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(chars[i]) |
                                           static_cast<unsigned char>(chars[i + 1]) << 8));
    }
  } else {
    text = FromWindows1252(chars);
  }
  const std::size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  return text;
}

// The walk over the file: a reader and the link it fills.
class Splitter {
 public:
  Splitter(std::string_view bytes, Link& link) : in_(bytes), link_(link) {}

  // A section that starts with its size: 16 bits that count what follows
  // (the item list), or 32 bits that count the whole section (the
  // LinkInfo).  False when the file ends inside it: the section keeps the
  // rest of the file.
  bool Sized(std::string& out, bool countsItself, const char* what) {
    ByteReader probe = in_;
    const std::size_t width = countsItself ? 4 : 2;
    std::size_t total = countsItself ? probe.U32() : 2 + std::size_t{probe.U16()};
    if (probe.ok() && total < width) {
      Warn(std::string(what) + " has a size smaller than its own size field");
      total = width;
    }
    if (!probe.ok() || total > in_.left()) {
      out.assign(in_.Rest());
      Warn(std::string(what) + " is cut short by the end of the file");
      return false;
    }
    out.assign(in_.Take(total));
    return true;
  }

  bool Strings() {
    const bool unicode = link_.unicode();
    for (std::size_t i = 0; i < kStringCount; ++i) {
      CountedString& s = link_.strings[i];
      if ((link_.header.linkFlags & StringFlag(static_cast<StringId>(i))) == 0) continue;
      ByteReader probe = in_;
      const std::size_t count = probe.U16();
      // Windows reads at most MAX_PATH characters of the two path strings,
      // whatever their count says, and the next field right after them: a
      // link can hide text that way, and is read as Windows reads it.
      const bool path = i == static_cast<std::size_t>(StringId::kRelativePath) ||
                        i == static_cast<std::size_t>(StringId::kWorkingDir);
      const std::size_t read = path && count > kMaxPathString ? kMaxPathString : count;
      if (read < count) {
        Warn("the " + std::string(kStringNames[i]) + " string's count says " + std::to_string(count) +
             " characters; Windows reads " + std::to_string(read) + " and takes what follows as the next field");
      }
      const std::size_t total = 2 + read * (unicode ? 2 : 1);
      const bool whole = probe.ok() && total <= in_.left();
      s.bytes.assign(whole ? in_.Take(total) : in_.Rest());
      s.text = DecodeString(std::string_view(s.bytes).substr(s.bytes.size() < 2 ? s.bytes.size() : 2), unicode);
      if (!whole) {
        Warn(std::string("the ") + kStringNames[i] + " string is cut short by the end of the file");
        return false;
      }
    }
    return true;
  }

  void Blocks() {
    for (;;) {
      if (in_.left() == 0) {
        Warn("the file ends without its terminal block");
        return;
      }
      ByteReader probe = in_;
      const std::uint32_t size = probe.U32();
      if (!probe.ok()) {
        link_.terminal.assign(in_.Rest());
        Warn("the terminal block is cut short by the end of the file");
        return;
      }
      if (size < 4) {
        link_.terminal.assign(in_.Take(4));
        link_.trailing.assign(in_.Rest());
        return;
      }
      ExtraBlock block;
      const bool whole = size <= in_.left();
      block.bytes.assign(whole ? in_.Take(size) : in_.Rest());
      block.signature = LittleEndianAt(block.bytes, 4, block.bytes.size() >= 8 ? 4 : 0);
      if (size < 8) Warn("an extra data block of " + std::to_string(size) + " bytes is too short for a signature");
      link_.blocks.push_back(std::move(block));
      if (!whole) {
        Warn("an extra data block is cut short by the end of the file");
        return;
      }
    }
  }

  void Run() {
    if ((link_.header.linkFlags & kHasLinkTargetIdList) && !Sized(link_.idList, false, "the item list")) return;
    if ((link_.header.linkFlags & kHasLinkInfo) && !Sized(link_.linkInfo, true, "the LinkInfo")) return;
    if (!Strings()) return;
    Blocks();
  }

  ByteReader& in() { return in_; }

 private:
  void Warn(std::string text) { link_.warnings.push_back(std::move(text)); }

  ByteReader in_;
  Link& link_;
};

}  // namespace

std::uint32_t StringFlag(StringId id) {
  static constexpr std::uint32_t kFlags[kStringCount] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments,
                                                         kHasIconLocation};
  return kFlags[static_cast<std::size_t>(id)];
}

ReadStatus ReadLink(std::string_view bytes, Link& link) {
  link = Link();
  if (bytes.size() < 20 || LittleEndianAt(bytes, 0, 4) != kHeaderSize || bytes.substr(4, 16) != kShellLinkClsid) {
    return ReadStatus::kNotALink;
  }
  Splitter split(bytes, link);
  const bool wholeHeader = bytes.size() >= kHeaderSize;
  link.header.bytes.assign(split.in().Take(wholeHeader ? kHeaderSize : bytes.size()));
  ReadHeaderFields(link.header);
  if (!wholeHeader) {
    link.warnings.push_back("the header is cut short by the end of the file");
    return ReadStatus::kLink;
  }
  split.Run();
  return ReadStatus::kLink;
}

std::string WriteLink(const Link& link) {
  std::size_t size = link.header.bytes.size() + link.idList.size() + link.linkInfo.size() + link.terminal.size() +
                     link.trailing.size();
  size = std::accumulate(link.strings.begin(), link.strings.end(), size,
                         [](std::size_t n, const CountedString& s) { return n + s.bytes.size(); });
  size = std::accumulate(link.blocks.begin(), link.blocks.end(), size,
                         [](std::size_t n, const ExtraBlock& b) { return n + b.bytes.size(); });
  std::string out;
  out.reserve(size);
  out += link.header.bytes;
  out += link.idList;
  out += link.linkInfo;
  for (const CountedString& s : link.strings) out += s.bytes;
  for (const ExtraBlock& b : link.blocks) out += b.bytes;
  out += link.terminal;
  out += link.trailing;
  return out;
}

void SetHeaderFields(Header& h) {
  if (h.bytes.size() < kHeaderSize) h.bytes.resize(kHeaderSize, '\0');
  auto put = [&h](std::size_t at, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) h.bytes[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  put(0, kHeaderSize, 4);
  h.bytes.replace(4, kShellLinkClsid.size(), kShellLinkClsid);
  put(20, h.linkFlags, 4);
  put(24, h.fileAttributes, 4);
  put(28, h.creationTime, 8);
  put(36, h.accessTime, 8);
  put(44, h.writeTime, 8);
  put(52, h.fileSize, 4);
  put(56, static_cast<std::uint32_t>(h.iconIndex), 4);
  put(60, h.showCommand, 4);
  put(64, h.hotKey, 2);
}

CountedString MakeCountedString(std::u16string_view text, bool unicode) {
  if (text.size() > 0xFFFF) text = text.substr(0, 0xFFFF);
  CountedString s;
  s.bytes.push_back(static_cast<char>(text.size() & 0xFF));
  s.bytes.push_back(static_cast<char>(text.size() >> 8));
  if (unicode) {
    for (const char16_t c : text) {
      s.bytes.push_back(static_cast<char>(c & 0xFF));
      s.bytes.push_back(static_cast<char>(c >> 8));
    }
  } else {
    s.bytes += ToWindows1252(text);
  }
  s.text = DecodeString(std::string_view(s.bytes).substr(2), unicode);
  return s;
}

std::u16string FromWindows1252(std::string_view bytes) {
  // Windows-1252 differs from Latin-1 only in 0x80-0x9F; 0 marks the five
  // bytes it leaves undefined.
  static constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                         0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::u16string out;
  out.reserve(bytes.size());
  for (const char b : bytes) {
    const unsigned char c = static_cast<unsigned char>(b);
    out.push_back(c >= 0x80 && c <= 0x9F && kHigh[c - 0x80] != 0 ? kHigh[c - 0x80] : static_cast<char16_t>(c));
  }
  return out;
}

}  // namespace lnk
