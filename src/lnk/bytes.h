// Reading little-endian values out of untrusted bytes.
//
// Every read is bounds-checked.  The first read that would pass the end
// fails the reader, and from then on every read fails too and answers 0
// (or no bytes): a parser reads straight through, field after field, and
// asks ok() once at the end instead of after each field.  Nothing here
// allocates; Take hands out views into the caller's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lnk {

class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

  std::uint8_t U8() { return static_cast<std::uint8_t>(Fixed(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Fixed(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Fixed(4)); }
  std::uint64_t U64() { return Fixed(8); }

  // The next count bytes; none (and the reader failed) when fewer are left.
  std::string_view Take(std::size_t count) {
    if (failed_ || count > left()) {
      failed_ = true;
      return {};
    }
    const std::string_view out = bytes_.substr(at_, count);
    at_ += count;
    return out;
  }
  // Whatever is left (possibly nothing); never fails.
  std::string_view Rest() {
    const std::string_view out = failed_ ? std::string_view() : bytes_.substr(at_);
    at_ = bytes_.size();
    return out;
  }
  void Skip(std::size_t count) { Take(count); }
  // Moves to an offset from the start; failing when it lies past the end.
  void Seek(std::size_t offset) {
    if (offset > bytes_.size()) failed_ = true;
    if (!failed_) at_ = offset;
  }

  bool ok() const { return !failed_; }
  std::size_t offset() const { return at_; }
  std::size_t left() const { return failed_ ? 0 : bytes_.size() - at_; }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::uint64_t Fixed(std::size_t width) {
    const std::string_view b = Take(width);
    std::uint64_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;) v = v << 8 | static_cast<unsigned char>(b[i]);
    return v;
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

// Little-endian values at an offset of bytes known to be long enough; 0
// for any byte past the end (a header cut short reads as zeros).
inline std::uint32_t LittleEndianAt(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint32_t v = 0;
  for (std::size_t i = width; i-- > 0;) {
    v <<= 8;
    if (at + i < bytes.size()) v |= static_cast<unsigned char>(bytes[at + i]);
  }
  return v;
}

}  // namespace lnk
