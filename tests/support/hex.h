// Bytes written as hexadecimal digits in the tests' tables: every pair of
// digits (either case) is a byte; spaces, line breaks and any other
// character between them are passed over.
#pragma once

#include <string>
#include <string_view>

namespace testsupport {

inline std::string Hex(std::string_view text) {
  std::string out;
  int high = -1;
  for (const char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

}  // namespace testsupport
