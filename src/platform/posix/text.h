// UTF-8, the ANSI code page of the posix build (the conversions of
// platform.h are in text.cpp).
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// UTF-8 to UTF-16.  A byte that is not part of a well-formed sequence
// becomes U+FFFD, or with `escapeInvalid` the lone surrogate U+DC80 + byte,
// which keeps it visible but can never be converted back to a name.
std::u16string Utf8ToUtf16(std::string_view bytes, bool escapeInvalid);

// Whether the bytes are well-formed UTF-8 throughout.
bool IsUtf8(std::string_view bytes);

}  // namespace platform::posix
