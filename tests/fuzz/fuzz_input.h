// What the fuzz targets share: turning the fuzzer's bytes into a wide
// string, and stopping loudly when a property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/text.h"

namespace fuzz {

// UTF-8 in, UTF-16 out, the way the tool reads its own arguments on
// Linux.  ASCII bytes stay one character each, so the fuzzer's byte-level
// mutations and the dictionary's quotes, spaces and slashes land as
// written; every byte of a malformed sequence becomes a lone low surrogate
// 0xDC00 + byte, so unpaired surrogates turn up too.
inline std::u16string Decode(const std::uint8_t* data, std::size_t size) {
  return platform::posix::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size), true);
}

// A printable form for the report: ASCII as is, the rest as \uXXXX.
inline std::string Show(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
  std::abort();
}

}  // namespace fuzz

// Unlike assert(), stays on in every build type.
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::fuzz::Fail(#cond, __FILE__, __LINE__); \
  } while (0)
