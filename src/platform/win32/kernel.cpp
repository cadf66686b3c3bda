// The kernel calls over kernel32.  Each function is one system call or two,
// with the Windows types translated at the edge; paths are ANSI bytes and
// go to the ANSI entry points unchanged.
#include "platform/platform.h"
#include "platform/read_up_to.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
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

std::uint32_t GetCurrentDirectoryA(std::uint32_t length, char* buffer) {
  // The system takes no buffer as "tell me the size"; so do we, whatever
  // length came with it.
  if (buffer == nullptr) length = 0;
  return ::GetCurrentDirectoryA(length, buffer);
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

namespace {

// The bytes of the file open as `file` (ReadUpTo).
bool ReadOpened(HANDLE file, unsigned long long size, std::size_t most, std::string& bytes, bool& cut) {
  const auto once = [file](char* into, std::size_t count) -> long long {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    return ::ReadFile(file, into, chunk, &n, nullptr) ? static_cast<long long>(n) : -1;
  };
  return ReadUpTo(once, size, most, bytes, cut);
}

}  // namespace

FileRead ReadWholeFile(const std::u16string& path, std::size_t most, std::string& bytes, bool& cut) {
  bytes.clear();
  cut = false;
  const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::kNotFound : FileRead::kFailed;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileRead::kFolder;
  const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileRead::kFailed;
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
    ::CloseHandle(file);
    return FileRead::kNotAFile;
  }
  const bool read = ReadOpened(file, static_cast<unsigned long long>(size.QuadPart), most, bytes, cut);
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  ::SetLastError(error);
  return read ? FileRead::kRead : FileRead::kFailed;
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

bool NotFound(std::uint32_t code) {
  switch (code) {
    // A failure of the device or of memory is the looking's own; everything
    // else a search answers is a path that leads to nothing.
    case ERROR_IO_DEVICE: case ERROR_CRC: case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY:
    case ERROR_DISK_CORRUPT: case ERROR_FILE_CORRUPT: return false;
    default: return true;
  }
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

// ---- the link's folder ---------------------------------------------------------------
//
// A handle of the folder, opened so that it can still be renamed or removed
// meanwhile; every name is joined to where the folder is now
// (GetFinalPathNameByHandleW), so that a folder renamed meanwhile still
// gets the link and keeps no stray file.  The names come from the core in
// the ANSI code page and are handed to the wide calls.

namespace {

struct HeldFolder {
  HANDLE dir;
  std::u16string path;  // as it was opened, should the system not say where it is now
};

HeldFolder* Held(Handle folder) { return reinterpret_cast<HeldFolder*>(folder); }  // NOLINT(performance-no-int-to-ptr)

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string WideOf(const std::string& ansi) {
  if (ansi.empty() || ansi.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), reinterpret_cast<wchar_t*>(out.data()),
                          n);
  }
  return out;
}

std::u16string In(const HeldFolder& folder, const std::string& name) {
  std::u16string path(MAX_PATH, u'\0');
  for (int tries = 0; tries < 3; ++tries) {
    const DWORD got = ::GetFinalPathNameByHandleW(folder.dir, reinterpret_cast<wchar_t*>(path.data()),
                                                  static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (got == 0) break;
    if (got < path.size()) {
      path.resize(got);
      return path + u'\\' + WideOf(name);
    }
    path.resize(got + 1);
  }
  path = folder.path;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + WideOf(name);
}

// A handle of the entry itself (a symbolic link is not followed), for its
// identity and attributes; INVALID_HANDLE_VALUE when there is none.
HANDLE OpenEntry(const std::u16string& path, DWORD access) {
  return ::CreateFileW(W(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO info{};
  info.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
  return ::SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != 0;
}

}  // namespace

const std::uint32_t kErrorFileExists = ERROR_FILE_EXISTS;

Handle OpenFolderA(const std::string& path) {
  if (!IsValidPath(path)) return kInvalidHandle;
  std::u16string wide = WideOf(path);
  const HANDLE dir = ::CreateFileW(W(wide), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return kInvalidHandle;
  return reinterpret_cast<Handle>(new HeldFolder{dir, std::move(wide)});
}

void CloseFolder(Handle folder) {
  if (folder == kInvalidHandle) return;
  ::CloseHandle(Held(folder)->dir);
  delete Held(folder);
}

std::vector<std::string> FindNamesA(Handle folder, const std::string& name) {
  std::vector<std::string> names;
  const std::u16string wanted = WideOf(name);
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileExW(W(In(*Held(folder), "*")), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    // As the file system compares names: ordinal, without regard to case.
    if (::CompareStringOrdinal(found.cFileName, -1, W(wanted), static_cast<int>(wanted.size()), TRUE) ==
        CSTR_EQUAL) {
      std::string entry = ToAnsi(reinterpret_cast<const char16_t*>(found.cFileName));
      auto at = names.begin();
      while (at != names.end() && *at < entry) ++at;  // in byte order; there are few
      names.insert(at, std::move(entry));
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

std::int32_t CreateNewFileA(Handle folder, const std::string& name) {
  const HANDLE file = ::CreateFileW(W(In(*Held(folder), name)), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (::CloseHandle(file)) return 1;
  // The file is made, but the caller hears of a failure and never learns
  // its name: it goes again.
  const DWORD error = ::GetLastError();
  ::DeleteFileW(W(In(*Held(folder), name)));
  ::SetLastError(error);
  return 0;
}

std::int32_t CreateNewFileA(Handle folder, const std::string& name, const std::string& bytes) {
  if (bytes.size() > MAXDWORD) return 0;
  const std::u16string path = In(*Held(folder), name);
  const HANDLE file = ::CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  DWORD error = ok ? 0 : ::GetLastError();
  if (!::CloseHandle(file) && ok) {
    ok = false;
    error = ::GetLastError();
  }
  if (ok) return 1;
  ::DeleteFileW(W(path));
  ::SetLastError(error == 0 ? ERROR_WRITE_FAULT : error);
  return 0;
}

std::optional<FileId> GetFileIdAt(Handle folder, const std::string& name) {
  const HANDLE file = OpenEntry(In(*Held(folder), name), 0);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(file, &info) != 0;
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::int32_t HideFileA(Handle folder, const std::string& name, bool hidden) {
  const std::u16string path = In(*Held(folder), name);
  const DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  DWORD wanted = hidden ? (attributes | FILE_ATTRIBUTE_HIDDEN) : (attributes & ~FILE_ATTRIBUTE_HIDDEN);
  wanted &= ~FILE_ATTRIBUTE_NORMAL;
  if (wanted == (attributes & ~FILE_ATTRIBUTE_NORMAL)) return 1;
  return ::SetFileAttributesW(W(path), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted);
}

std::int32_t ReplaceFileA(Handle folder, const std::string& from, const std::string& to) {
  const std::u16string source = In(*Held(folder), from);
  const std::u16string target = In(*Held(folder), to);
  constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (::MoveFileExW(W(source), W(target), kFlags)) return 1;
  const DWORD refused = ::GetLastError();
  if (refused != ERROR_ACCESS_DENIED) return 0;
  // A read-only file is replaced only once the attribute is cleared.  It is
  // cleared through a handle of the file itself, and put back through it
  // after the move: should the file have other names (a hard link, or the
  // file a symbolic link led to where the system followed it), they keep it
  // read-only.
  const HANDLE file = OpenEntry(target, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO info{};
  if (file == INVALID_HANDLE_VALUE || !::GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info) ||
      (info.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0 ||
      !SetAttributes(file, info.FileAttributes & ~FILE_ATTRIBUTE_READONLY)) {
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    ::SetLastError(refused);
    return 0;
  }
  const bool moved = ::MoveFileExW(W(source), W(target), kFlags) != 0;
  const DWORD why = ::GetLastError();
  SetAttributes(file, info.FileAttributes);
  ::CloseHandle(file);
  ::SetLastError(moved ? 0 : why);
  return moved ? 1 : 0;
}

std::int32_t RemoveFileA(Handle folder, const std::string& name) {
  return ::DeleteFileW(W(In(*Held(folder), name)));
}

// ---- reading a list of command lines -----------------------------------------------

void KeepCurrentDirectory() {}

Handle OpenFileA(const std::string& path) {
  if (!IsValidPath(path)) return kInvalidHandle;
  const HANDLE file = ::CreateFileW(W(WideOf(path)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(file);
}

void CloseFile(Handle file) {
  if (file != kInvalidHandle) ::CloseHandle(ToHandle(file));
}

std::int64_t ReadFile(Handle handle, char* buffer, std::size_t size) {
  DWORD done = 0;
  const DWORD most = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  if (::ReadFile(ToHandle(handle), buffer, most, &done, nullptr)) return done;
  // A pipe whose writer is gone is at its end.
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

// ---- having files on disk -------------------------------------------------------------

// The Shell writes a link and leaves the writing to the system's cache.
std::int32_t FlushFileA(Handle folder, const std::string& name) {
  const HANDLE file = ::CreateFileW(W(In(*Held(folder), name)), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const bool flushed = file != INVALID_HANDLE_VALUE && ::FlushFileBuffers(file);
  const DWORD why = ::GetLastError();
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  ::SetLastError(flushed ? 0 : why);
  return flushed ? 1 : 0;
}

// A volume is flushed whole only by an administrator: each file is
// flushed by itself.
std::int32_t FlushFileSystem(Handle /*folder*/) { return -1; }

// ReplaceFileA moves with MOVEFILE_WRITE_THROUGH: the new name is on disk
// when it returns.
std::int32_t FlushFolder(Handle /*folder*/) { return 1; }

}  // namespace platform

// ---- links changed in place -------------------------------------------------------

namespace platform {

const std::uint32_t kErrorFileTooLarge = ERROR_FILE_TOO_LARGE;
const std::uint32_t kErrorNotPlainFile = ERROR_INVALID_PARAMETER;

bool ListFolderA(const std::string& path, std::vector<FolderEntry>& entries) {
  if (!IsValidPath(path)) return false;
  std::u16string pattern = WideOf(path);
  if (pattern.empty() || pattern.back() != u'\\') pattern += u'\\';
  pattern += u'*';
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileExW(W(pattern), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  entries.clear();
  do {
    const std::u16string name = reinterpret_cast<const char16_t*>(found.cFileName);
    if (name == u"." || name == u"..") continue;
    // A name the ANSI calls cannot spell is no file they can open.
    const std::optional<std::string> bytes = ToAnsiExact(name);
    FolderEntry entry;
    entry.name = bytes.value_or(ToAnsi(name));
    if (bytes && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      entry.kind = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FolderEntry::Kind::kFolder
                                                                           : FolderEntry::Kind::kFile;
    }
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  ::SetLastError(error == ERROR_NO_MORE_FILES ? 0 : error);
  return error == ERROR_NO_MORE_FILES;
}

bool ReadFileAt(Handle folder, const std::string& name, std::size_t most, std::string& bytes, FileState* state) {
  const HANDLE file = ::CreateFileW(W(In(*Held(folder), name)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = 0;
  if (!::GetFileInformationByHandle(file, &info)) {
    error = ::GetLastError();
  } else if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
             ::GetFileType(file) != FILE_TYPE_DISK) {
    error = ERROR_INVALID_PARAMETER;
  } else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > most) {
    error = ERROR_FILE_TOO_LARGE;
  } else {
    if (state != nullptr) *state = FileState{0, 0, 0, info.dwFileAttributes};
    bool cut = false;
    if (!ReadOpened(file, info.nFileSizeLow, most, bytes, cut)) {
      error = ::GetLastError();
    } else if (cut) {
      error = ERROR_FILE_TOO_LARGE;
    }
  }
  ::CloseHandle(file);
  ::SetLastError(error);
  return error == 0;
}

std::int32_t KeepFileState(Handle folder, const FileState& state, const std::string& to, bool& hidden) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD old = state.attributes;
  const std::u16string path = In(*Held(folder), to);
  const DWORD now = ::GetFileAttributesW(W(path));
  if (now == INVALID_FILE_ATTRIBUTES) return 0;
  hidden = (old & FILE_ATTRIBUTE_HIDDEN) != 0;
  const DWORD wanted = (now & ~(kKept | FILE_ATTRIBUTE_NORMAL)) | (old & kKept);
  return ::SetFileAttributesW(W(path), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted);
}

}  // namespace platform
