// launch.exe APPLICATION HEX
//
// Starts APPLICATION with exactly the command line that HEX spells (the
// line's UTF-16LE bytes in hexadecimal), hands it our standard handles,
// waits for it and exits with its exit code.  The tests need it because
// `wine prog.exe args` rebuilds the command line from argv and so cannot
// give a program a line with odd quoting or blanks.
//
// Exit codes of its own: 125 for a bad invocation, 126 when the program
// cannot be started.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string>

namespace {

void Complain(const char* text) {
  DWORD written = 0;
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  ::WriteFile(err, "launch: ", 8, &written, nullptr);
  ::WriteFile(err, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  ::WriteFile(err, "\r\n", 2, &written, nullptr);
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Four hex digits per UTF-16 unit, low byte first.
std::optional<std::wstring> DecodeUtf16LeHex(const wchar_t* hex) {
  const std::size_t length = std::wcslen(hex);
  if (length % 4 != 0) return std::nullopt;
  std::wstring out;
  out.reserve(length / 4);
  for (std::size_t i = 0; i < length; i += 4) {
    int d[4];
    for (int k = 0; k < 4; ++k) {
      d[k] = HexDigit(hex[i + k]);
      if (d[k] < 0) return std::nullopt;
    }
    const unsigned low = static_cast<unsigned>(d[0] << 4 | d[1]);
    const unsigned high = static_cast<unsigned>(d[2] << 4 | d[3]);
    out.push_back(static_cast<wchar_t>(high << 8 | low));
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    Complain("usage: launch.exe APPLICATION HEX-OF-UTF16LE-COMMAND-LINE");
    return 125;
  }
  std::optional<std::wstring> line = DecodeUtf16LeHex(argv[2]);
  if (!line) {
    Complain("the command line is not hexadecimal UTF-16LE");
    return 125;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // CreateProcessW may write into the command line, so it gets our copy.
  if (!::CreateProcessW(argv[1], line->data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    Complain("cannot start the program");
    return 126;
  }
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 126;
  if (!::GetExitCodeProcess(process.hProcess, &code)) code = 126;
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
