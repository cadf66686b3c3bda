// The questions about the running process: its command line, the name of
// its executable, and the description in its own version resource.
#include "platform/platform.h"
#include "platform/win32/cmdline.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace platform {

namespace {

std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// The full path of the running executable; no fixed limit on its length.
std::wstring ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD got = ::GetModuleFileNameW(nullptr, buffer.data(), size);
    if (got == 0) return {};
    // A full buffer means the name was cut (older systems report no error).
    if (got < size) return std::wstring(buffer.data(), got);
    if (buffer.size() >= 0x8000u * 4) return {};
    buffer.resize(buffer.size() * 2);
  }
}

// One string of the version resource's string table `block` ("040904B0").
std::u16string VersionString(std::vector<unsigned char>& info, const wchar_t* block,
                             const wchar_t* name) {
  std::wstring query = L"\\StringFileInfo\\";
  query += block;
  query += L"\\";
  query += name;
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(info.data(), query.c_str(), &value, &length) || value == nullptr) {
    return {};
  }
  // The length counts characters and may or may not include the zero.
  const wchar_t* text = static_cast<const wchar_t*>(value);
  return FromWide(text, ::wcsnlen(text, length));
}

// One string of the executable's own version information: in the table
// its first translation names, else in the US English Unicode one.
std::u16string OwnVersionString(const wchar_t* name) {
  const std::wstring path = ModulePath();
  if (path.empty()) return {};
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> info(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, info.data())) return {};

  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) &&
      value != nullptr && length >= sizeof(Translation)) {
    const Translation* first = static_cast<const Translation*>(value);
    const unsigned both = (static_cast<unsigned>(first->language) << 16) | first->codePage;
    wchar_t block[9] = {};
    for (int i = 0; i < 8; ++i) block[i] = L"0123456789ABCDEF"[(both >> (28 - 4 * i)) & 0xF];
    std::u16string found = VersionString(info, block, name);
    if (!found.empty()) return found;
  }
  return VersionString(info, L"040904B0", name);
}

}  // namespace

void Startup(int, char**) {
  // A query for a path on a drive without a disk must fail quietly, not
  // stop the tool with a system dialog.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::u16string RawArgumentString() {
  const wchar_t* line = ::GetCommandLineW();
  if (line == nullptr) return {};
  const std::u16string_view view(reinterpret_cast<const char16_t*>(line), ::wcslen(line));
  return std::u16string(win32::CutProgramName(view));
}

bool ArgumentWords(std::vector<std::u16string>& /*words*/) { return false; }

std::u16string ExecutableBaseName() {
  std::wstring path = ModulePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos) path.erase(0, slash + 1);
  const std::size_t dot = path.rfind(L'.');
  if (dot != std::wstring::npos) path.erase(dot);
  return FromWide(path.data(), path.size());
}

std::u16string FileDescription() { return OwnVersionString(L"FileDescription"); }

std::u16string ProductVersion() { return OwnVersionString(L"ProductVersion"); }

bool AnswersLongOptions() { return false; }

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

namespace {

// Set while interrupts are held back: the console's handler thread waits
// for it before the default handling ends the process.
HANDLE g_interruptsAllowed = nullptr;
int g_deferred = 0;  // DeferInterrupts not yet matched

BOOL WINAPI HoldBack(DWORD /*event*/) {
  if (g_interruptsAllowed != nullptr) ::WaitForSingleObject(g_interruptsAllowed, INFINITE);
  return FALSE;  // then what the event does by default: the process ends
}

}  // namespace

// Ctrl+C, Ctrl+Break and the console's closing call the handlers on a
// thread of their own; ours waits there until the main thread has put its
// temporary file in place or removed it.  (A console that closes gives the
// process a few seconds, ample for that.)
void DeferInterrupts() {
  if (g_deferred++ > 0) return;
  if (g_interruptsAllowed == nullptr) g_interruptsAllowed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(g_interruptsAllowed);
  ::SetConsoleCtrlHandler(HoldBack, TRUE);
}

void AllowInterrupts() {
  if (g_deferred == 0 || --g_deferred > 0) return;
  ::SetEvent(g_interruptsAllowed);
  ::SetConsoleCtrlHandler(HoldBack, FALSE);
}

// ---- reading a list of command lines ----------------------------------------

bool ReadWouldWait(Handle handle) {
  const HANDLE h = reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
  switch (::GetFileType(h)) {
    case FILE_TYPE_PIPE: {
      DWORD waiting = 0;
      // A pipe whose writer is gone is at its end: a read answers at once.
      return ::PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0;
    }
    case FILE_TYPE_CHAR:
      return true;  // a console: someone types
    default:
      return false;
  }
}

bool IsTerminal(Handle handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;  // NOLINT(performance-no-int-to-ptr)
}

std::uint64_t Milliseconds() { return ::GetTickCount64(); }

}  // namespace platform
