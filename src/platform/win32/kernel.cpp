// The kernel calls and text conversions over kernel32 (and user32 for the
// upper-casing).  Each function is one system call or two, with the Windows
// types translated at the edge; paths are ANSI bytes and go to the ANSI
// entry points unchanged.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <climits>
#include <string>
#include <vector>

namespace platform {

namespace {

// A handle is an opaque token that the interface carries as an integer; the
// system never lets us look through it, so the cast costs nothing.
HANDLE ToHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }  // NOLINT(performance-no-int-to-ptr)
Handle FromHandle(HANDLE h) { return reinterpret_cast<Handle>(h); }

// The ANSI entry points read a path up to its first zero byte.  A path with
// a zero byte inside would silently name a different, shorter path, so such
// a path is refused as an invalid name before it reaches the system.
bool IsValidPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return true;
}

const wchar_t* Wide(std::u16string_view text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return reinterpret_cast<const wchar_t*>(text.data());
}

// Wide text to ANSI; `used_default` (when not null) reports whether any
// character had no exact equivalent.  Empty text converts to nothing
// without a call (the system treats a zero length as an error).
bool WideToAnsi(std::u16string_view text, DWORD flags, std::string& out,
                BOOL* used_default) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int in_len = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_ACP, flags, Wide(text), in_len,
                                           nullptr, 0, nullptr, used_default);
  if (needed <= 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  const int written = ::WideCharToMultiByte(CP_ACP, flags, Wide(text), in_len,
                                            out.data(), needed, nullptr, used_default);
  if (written <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(written));
  return true;
}

}  // namespace

Handle GetStdHandle(std::int32_t which) {
  return FromHandle(::GetStdHandle(static_cast<DWORD>(which)));
}

bool WriteFile(Handle handle, const std::string& bytes) {
  if (bytes.size() > MAXDWORD) return false;
  DWORD written = 0;
  return ::WriteFile(ToHandle(handle), bytes.data(), static_cast<DWORD>(bytes.size()),
                     &written, nullptr) != 0;
}

namespace {
// The characters the directory search expands in a name: the two wildcards,
// and the three it takes for their DOS forms.  None can be part of a name.
bool HasWildcardInLastName(const std::string& pattern) {
  const std::size_t last = pattern.find_last_of("\\/:");
  return pattern.find_first_of("*?<>\"", last == std::string::npos ? 0 : last + 1) != std::string::npos;
}
}  // namespace

Handle FindFirstFileA(const std::string& pattern, FindData& data) {
  if (!IsValidPath(pattern)) return kInvalidHandle;
  // The tool asks whether one name exists, never for a pattern: a wildcard
  // would make the search answer for some other file.  Elsewhere in the
  // path (the "\\?\" prefix) a '?' is no wildcard.
  if (HasWildcardInLastName(pattern)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return kInvalidHandle;
  }
  WIN32_FIND_DATAA found{};
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return kInvalidHandle;
  data.attributes = found.dwFileAttributes;
  return FromHandle(search);
}

std::int32_t FindClose(Handle search) { return ::FindClose(ToHandle(search)); }

std::uint32_t GetFileAttributesA(const std::string& path) {
  if (!IsValidPath(path)) return kInvalidFileAttributes;
  return ::GetFileAttributesA(path.c_str());
}

std::int32_t SetFileAttributesA(const std::string& path, std::uint32_t attributes) {
  if (!IsValidPath(path)) return 0;
  return ::SetFileAttributesA(path.c_str(), attributes);
}

std::int32_t DeleteFileA(const std::string& path) {
  if (!IsValidPath(path)) return 0;
  return ::DeleteFileA(path.c_str());
}

std::uint32_t GetCurrentDirectoryA(std::uint32_t length, char* buffer) {
  // The system takes no buffer as "tell me the size"; so do we, whatever
  // length came with it.
  if (buffer == nullptr) length = 0;
  return ::GetCurrentDirectoryA(length, buffer);
}

std::int32_t CreateEmptyFileA(const std::string& path) {
  if (!IsValidPath(path)) return 0;
  // Like opening the file for output: create it, or cut an existing one to
  // nothing, and close it again straight away.
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  return ::CloseHandle(file) ? 1 : 0;
}

std::int32_t MoveFileA(const std::string& from, const std::string& to) {
  if (!IsValidPath(from) || !IsValidPath(to)) return 0;
  return ::MoveFileA(from.c_str(), to.c_str());
}

std::string GetFullPathNameA(const std::string& path) {
  if (path.empty() || !IsValidPath(path)) return {};
  std::vector<char> buffer;
  DWORD size = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  // The answer is the size needed (with the zero) while the buffer is too
  // small, and the length written once it fits.
  for (int tries = 0; size != 0 && tries < 4; ++tries) {
    buffer.assign(size, '\0');
    const DWORD got = ::GetFullPathNameA(path.c_str(), size, buffer.data(), nullptr);
    if (got == 0) return {};
    if (got < size) return std::string(buffer.data(), got);
    size = got;
  }
  return {};
}

std::optional<FileId> GetFileIdA(const std::string& path, bool follow) {
  if (!IsValidPath(path)) return std::nullopt;
  // No access asked for: the file's identity needs none.  Folders open only
  // with backup semantics; a link is itself unless it is to be followed.
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(file, &info) != 0;
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

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
  BOOL used_default = FALSE;
  if (!WideToAnsi(text, WC_NO_BEST_FIT_CHARS, out, &used_default) || used_default) {
    return std::nullopt;
  }
  return out;
}

std::u16string FromAnsi(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in_len = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), in_len, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int written = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), in_len,
                                            reinterpret_cast<wchar_t*>(out.data()), needed);
  if (written <= 0) return {};
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  // Upper-cases in place, one UTF-16 unit at a time, so the length stays.
  if (!out.empty()) {
    ::CharUpperBuffW(reinterpret_cast<wchar_t*>(out.data()), static_cast<DWORD>(out.size()));
  }
  return out;
}

}  // namespace platform
