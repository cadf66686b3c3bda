// A link's parts written by hand in the tests: integers in the format's
// byte order, UTF-16 text, an extra data block; and the public sample
// links the tests read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

inline std::string U16(std::uint64_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
inline std::string U32(std::uint64_t v) { return U16(v & 0xFFFF) + U16(v >> 16 & 0xFFFF); }

// UTF-16, little-endian, without a NUL.
inline std::string Utf16(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) out += U16(c);
  return out;
}

// Text as UTF-8 whatever the system's code page (the Windows build's is not).
inline std::string Utf8(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

// An extra data block: its size, its signature, its data.
inline std::string Block(std::uint32_t signature, const std::string& data) {
  return U32(data.size() + 8) + U32(signature) + data;
}

#ifdef MKLNK_SAMPLES_DIR
inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string Sample(const char* name) { return ReadBytes(std::filesystem::path(MKLNK_SAMPLES_DIR) / name); }

// Every sample link, its name and its bytes, in the names' order.
inline std::vector<std::pair<std::string, std::string>> Samples() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& entry : std::filesystem::directory_iterator(MKLNK_SAMPLES_DIR)) {
    if (entry.path().extension() == ".lnk") out.emplace_back(entry.path().filename().string(), ReadBytes(entry.path()));
  }
  std::sort(out.begin(), out.end());
  return out;
}
#endif

}  // namespace testsupport
