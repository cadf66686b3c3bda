// The few string operations every module shares, with 1-based positions:
// a position is 1 for the first character and 0 for "not there".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mklnk::text {

// Position of `what` in `s`, searching from position `from`; 0 when it is
// not found or `from` lies beyond the end.
inline std::size_t Find(std::u16string_view s, std::u16string_view what, std::size_t from = 1) {
  if (from == 0 || from > s.size()) return 0;
  const std::size_t at = s.find(what, from - 1);
  return at == std::u16string_view::npos ? 0 : at + 1;
}

inline bool Contains(std::u16string_view s, std::u16string_view what) { return Find(s, what) > 0; }

// The `count` characters from position `from` (fewer at the end).
inline std::u16string Mid(std::u16string_view s, std::size_t from, std::size_t count = std::u16string_view::npos) {
  if (from == 0 || from > s.size()) return {};
  return std::u16string(s.substr(from - 1, count));
}

inline std::u16string Left(std::u16string_view s, std::size_t count) { return std::u16string(s.substr(0, count)); }

// Leading and trailing spaces (code 32) only.
inline std::u16string Trim(std::u16string_view s) {
  const std::size_t first = s.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  return std::u16string(s.substr(first, s.find_last_not_of(u' ') - first + 1));
}

// A whole number in decimal digits, '-' before a negative one.
inline std::u16string Decimal(std::int64_t n) {
  std::u16string digits;
  std::uint64_t u = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + u % 10));
    u /= 10;
  } while (u > 0);
  return n < 0 ? u"-" + digits : digits;
}

}  // namespace mklnk::text
