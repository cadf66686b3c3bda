// A fresh folder for one test, removed afterwards, with its path in the
// Windows form that the program's procedures take.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace testsupport {

namespace fs = std::filesystem;

// The Windows form of an absolute Linux path: drive Z: is the root of the
// file system, as under Wine.  The tests' one spelling of that fact.
inline std::string WinPathOf(const std::string& linuxPath) {
  std::string out = "Z:";
  for (const char c : linuxPath) out += c == '/' ? '\\' : c;
  return out;
}

// The Windows form of a native path: itself on Windows.
inline std::u16string WinPath(const fs::path& p) {
#ifdef _WIN32
  return p.u16string();
#else
  return platform::FromAnsi(WinPathOf(p.string()));
#endif
}

// The native path of a Windows path made by WinPath.
inline fs::path NativePath(const std::u16string& win) {
#ifdef _WIN32
  return fs::path(win);
#else
  std::string native = platform::ToAnsi(win.substr(2));  // WinPathOf, undone
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return fs::path(native);
#endif
}

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (;;) {
      root_ = fs::temp_directory_path() /
              ("mklnk-test-" + std::to_string(rd() % 1000000) + "-" + std::to_string(counter++));
      std::error_code ec;
      if (fs::create_directory(root_, ec)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    // Read-only entries would stop the removal on Windows.
    for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
    }
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& native() const { return root_; }
  fs::path native(const std::string& rel) const { return root_ / fs::path(rel); }
  std::u16string win() const { return WinPath(root_); }
  std::u16string win(const std::string& rel) const { return WinPath(native(rel)); }

  void MakeDir(const std::string& rel) const { fs::create_directories(native(rel)); }
  void MakeFile(const std::string& rel, const std::string& content = "") const {
    std::ofstream(native(rel), std::ios::binary) << content;
  }
  void SetReadOnly(const std::string& rel, bool on = true) const {
    fs::permissions(native(rel), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    on ? fs::perm_options::remove : fs::perm_options::add);
  }
  bool Exists(const std::string& rel) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(native(rel), ec));
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(native(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The names directly in a folder of the test.
  std::set<std::string> List(const std::string& rel = "") const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(rel.empty() ? root_ : native(rel))) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

 private:
  fs::path root_;
};

// Makes a folder the current directory for the life of the object.
class ChangeDir {
 public:
  explicit ChangeDir(const fs::path& to) : old_(fs::current_path()) { fs::current_path(to); }
  ~ChangeDir() {
    std::error_code ec;
    fs::current_path(old_, ec);
  }
  ChangeDir(const ChangeDir&) = delete;
  ChangeDir& operator=(const ChangeDir&) = delete;

 private:
  fs::path old_;
};

}  // namespace testsupport
