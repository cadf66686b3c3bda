// The kernel calls over kernel32.  Each function is one system call or two,
// with the Windows types translated at the edge; paths are ANSI bytes and
// go to the ANSI entry points unchanged.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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
  if (!::CloseHandle(file)) return 0;
  // CREATE_ALWAYS reports a file it cut as ERROR_ALREADY_EXISTS, on success.
  ::SetLastError(0);
  return 1;
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

std::uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::u16string ErrorMessage(std::uint32_t code) {
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::u16string text;
  if (length != 0 && message != nullptr) text.assign(reinterpret_cast<const char16_t*>(message), length);
  if (message != nullptr) ::LocalFree(message);
  // System messages end in a full stop and a line end.
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' ||
                           text.back() == u'\t' || text.back() == u'.')) {
    text.pop_back();
  }
  return text;
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

}  // namespace platform
