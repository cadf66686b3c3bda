// A temporary file to hand the console writer as its standard output, and
// the bytes that went into it.
#pragma once

#include <string>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#include <unistd.h>
#endif

namespace testsupport {

class Capture {
 public:
  Capture() {
#ifdef _WIN32
    wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"cap", 0, name);
    handle_ = reinterpret_cast<platform::Handle>(
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
#else
    file_ = std::tmpfile();
    if (file_ != nullptr) handle_ = fileno(file_);
#endif
  }
  ~Capture() {
#ifdef _WIN32
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
    if (file_ != nullptr) std::fclose(file_);
#endif
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  platform::Handle handle() const { return handle_; }

  // Everything written so far.
  std::string Bytes() const {
    std::string out;
    char buf[65536];
#ifdef _WIN32
    const HANDLE h = reinterpret_cast<HANDLE>(handle_);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
#else
    const int fd = static_cast<int>(handle_);
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
#endif
    return out;
  }

 private:
  platform::Handle handle_ = platform::kInvalidHandle;
#ifndef _WIN32
  std::FILE* file_ = nullptr;
#endif
};

}  // namespace testsupport
