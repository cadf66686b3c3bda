// Text on Linux: UTF-8 is the ANSI code page here.  The conversions
// between it and the program's UTF-16, and a simple upper-casing that is
// the same whatever the user's locale.
#include "platform/posix/text.h"

#include <algorithm>

#include "platform/platform.h"

namespace platform {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 to UTF-8; a lone surrogate becomes '?' and clears `exact`.
std::string Utf16ToUtf8(std::u16string_view text, bool& exact) {
  exact = true;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out += '?';
      exact = false;
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace

std::string ToAnsi(std::u16string_view text) {
  bool exact;
  return Utf16ToUtf8(text, exact);
}

std::optional<std::string> ToAnsiExact(std::u16string_view text) {
  bool exact;
  std::string out = Utf16ToUtf8(text, exact);
  if (!exact) return std::nullopt;
  return out;
}

std::u16string FromAnsi(std::string_view bytes) { return posix::Utf8ToUtf16(bytes, false); }

std::u16string posix::Utf8ToUtf16(std::string_view bytes, bool escapeInvalid) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      out += static_cast<char16_t>(b0);
      ++i;
      continue;
    }
    // Length and the smallest code point that needs it (no overlong forms).
    std::size_t len = 0;
    char32_t cp = 0, min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= bytes.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!ok) {
      // Each byte that is not part of a well-formed sequence stands alone.
      out += escapeInvalid ? static_cast<char16_t>(0xDC00 + b0) : u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

namespace {

// Simple upper-case mapping, the same whatever the user's locale: ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic, Armenian, Latin Extended
// Additional and the full-width Latin letters.  Characters outside these
// blocks, and those whose capital is not one character, stay as they are.
char16_t UpperOf(char16_t c) {
  const auto odd = [c] { return (c & 1) != 0; };
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0x131) return u'I';
  if (c >= 0x100 && c <= 0x137) return odd() ? static_cast<char16_t>(c - 1) : c;
  if (c >= 0x139 && c <= 0x148) return odd() ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x14A && c <= 0x177) return odd() ? static_cast<char16_t>(c - 1) : c;
  if (c >= 0x179 && c <= 0x17E) return odd() ? c : static_cast<char16_t>(c - 1);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 37);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3CB) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 63);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
    return odd() ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x4C1 && c <= 0x4CE) return odd() ? c : static_cast<char16_t>(c - 1);
  if (c == 0x4CF) return 0x4C0;
  if (c >= 0x561 && c <= 0x586) return static_cast<char16_t>(c - 0x30);
  if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) return odd() ? static_cast<char16_t>(c - 1) : c;
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

}  // namespace

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  std::transform(out.begin(), out.end(), out.begin(), UpperOf);
  return out;
}

}  // namespace platform
