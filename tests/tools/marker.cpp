// marker.exe
//
// The target of the links that the end-to-end tests open with Wine's
// `start`, the way a double-click opens them.  It shows that it ran by
// writing a file: the one named by the environment variable MKLNK_MARKER,
// which `start` hands down, holding three lines in UTF-8:
//   its own path (GetModuleFileNameW)
//   the current directory it was started in (the link's working directory)
//   its command line after its own name (the link's arguments)
// The file is written under another name and renamed into place, so that a
// test polling for it never reads half of it.
//
// Exit codes: 0 when the file was written, 1 when it could not be, 125
// without MKLNK_MARKER.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "utf8.h"

namespace {

// Long enough for any path: a target of MAX_PATH characters or more is
// what some of the tests are about.
std::wstring ModulePath() {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), n);
}

std::wstring CurrentDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return n < buffer.size() ? std::wstring(buffer.data(), n) : std::wstring();
}

// The command line without the program's name and the blanks after it.
std::wstring Arguments() {
  const wchar_t* line = ::GetCommandLineW();
  if (*line == L'"') {
    for (++line; *line != L'\0' && *line != L'"'; ++line) {
    }
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

}  // namespace

int wmain() {
  std::vector<wchar_t> name(32768);
  const DWORD length = ::GetEnvironmentVariableW(L"MKLNK_MARKER", name.data(), static_cast<DWORD>(name.size()));
  if (length == 0 || length >= name.size()) return 125;
  const std::wstring marker(name.data(), length);
  const std::wstring partial = marker + L".part";
  const std::string text = Utf8(ModulePath()) + "\n" + Utf8(CurrentDirectory()) + "\n" + Utf8(Arguments()) + "\n";
  const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  if (!ok || written != text.size()) return 1;
  return ::MoveFileExW(partial.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
