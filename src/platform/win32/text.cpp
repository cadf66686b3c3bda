// Text between the program's UTF-16 and the system's ANSI code page, and
// the upper-casing of the user interface: kernel32 and user32.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <climits>
#include <string>

namespace platform {

namespace {

const wchar_t* Wide(std::u16string_view text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return reinterpret_cast<const wchar_t*>(text.data());
}

// Wide text to ANSI; `usedDefault` (when not null) reports whether any
// character had no exact equivalent.  Empty text converts to nothing
// without a call (the system treats a zero length as an error).
bool WideToAnsi(std::u16string_view text, DWORD flags, std::string& out,
                BOOL* usedDefault) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int inLength = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_ACP, flags, Wide(text), inLength,
                                           nullptr, 0, nullptr, usedDefault);
  if (needed <= 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  const int written = ::WideCharToMultiByte(CP_ACP, flags, Wide(text), inLength,
                                            out.data(), needed, nullptr, usedDefault);
  if (written <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(written));
  return true;
}

}  // namespace

std::string ToAnsi(std::u16string_view text) {
  std::string out;
  WideToAnsi(text, 0, out, nullptr);
  return out;
}

std::optional<std::string> ToAnsiExact(std::u16string_view text) {
  std::string out;
  if (::GetACP() == CP_UTF8) {
    // A UTF-8 code page holds every character; only a broken surrogate
    // cannot be converted.  (The default-character report is not allowed
    // with UTF-8.)
    if (!WideToAnsi(text, WC_ERR_INVALID_CHARS, out, nullptr)) return std::nullopt;
    return out;
  }
  // No best fit: a character that would become a look-alike (an accented
  // letter turned plain, say) counts as lost, just like one that becomes
  // the default character.
  BOOL usedDefault = FALSE;
  if (!WideToAnsi(text, WC_NO_BEST_FIT_CHARS, out, &usedDefault) || usedDefault) {
    return std::nullopt;
  }
  return out;
}

namespace {

// The bytes of code page `page` as UTF-16: what the system makes of them.
std::u16string FromCodePage(UINT page, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int inLength = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(page, 0, bytes.data(), inLength, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int written = ::MultiByteToWideChar(page, 0, bytes.data(), inLength,
                                            reinterpret_cast<wchar_t*>(out.data()), needed);
  out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return out;
}

}  // namespace

std::u16string FromAnsi(std::string_view bytes) { return FromCodePage(CP_ACP, bytes); }

std::u16string FromUtf8(std::string_view bytes) { return FromCodePage(CP_UTF8, bytes); }

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  // Upper-cases in place, one UTF-16 unit at a time, so the length stays.
  if (!out.empty()) {
    ::CharUpperBuffW(reinterpret_cast<wchar_t*>(out.data()), static_cast<DWORD>(out.size()));
  }
  return out;
}

std::u16string ExpandVariables(std::u16string_view text) {
  std::u16string in(text);
  std::u16string out(in.size() + 1, u'\0');
  for (int tries = 0; tries < 3; ++tries) {
    const DWORD needed = ::ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(in.c_str()),
                                                     reinterpret_cast<wchar_t*>(out.data()),
                                                     static_cast<DWORD>(out.size()));
    if (needed == 0) return in;
    if (needed <= out.size()) {
      out.resize(needed - 1);  // the count includes the terminating zero
      return out;
    }
    out.resize(needed);
  }
  return in;
}

}  // namespace platform
