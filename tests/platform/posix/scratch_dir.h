// A scratch folder for the posix platform tests: made fresh under /tmp,
// entered as the current directory, and everything put back afterwards
// (current directory, WINEPREFIX, HOME, the folder itself).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/tempdir.h"

namespace posix_test {

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    saved_prefix_ = Env("WINEPREFIX");
    saved_home_ = Env("HOME");
    std::string templ = "/tmp/mklnk-posix-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    // getcwd answers the physical path, so compare against that.
    root_ = std::filesystem::canonical(templ).string();
    ASSERT_EQ(chdir(root_.c_str()), 0);
  }

  void TearDown() override {
    if (chdir(saved_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot restore the current directory";
    Restore("WINEPREFIX", saved_prefix_);
    Restore("HOME", saved_home_);
    std::error_code ec;
    // Read-only folders would stop the clean-up of a user other than root.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(root_, ec);
  }

  // The absolute Linux path of `rel` inside the scratch folder.
  std::string At(const std::string& rel) const { return rel.empty() ? root_ : root_ + "/" + rel; }

  // The same path in Windows form on drive Z:.
  static std::string Win(const std::string& linuxPath) { return testsupport::WinPathOf(linuxPath); }

  void MakeFile(const std::string& rel, const std::string& content = "data", mode_t mode = 0644) const {
    std::ofstream(At(rel), std::ios::binary) << content;
    ASSERT_EQ(chmod(At(rel).c_str(), mode), 0);
  }

  void MakeDir(const std::string& rel, mode_t mode = 0755) const {
    std::filesystem::create_directories(At(rel));
    ASSERT_EQ(chmod(At(rel).c_str(), mode), 0);
  }

  void MakeLink(const std::string& target, const std::string& rel) const {
    ASSERT_EQ(symlink(target.c_str(), At(rel).c_str()), 0);
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }

  static bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }

  std::string root_;

 private:
  static std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  std::string saved_cwd_;
  std::optional<std::string> saved_prefix_, saved_home_;
};

}  // namespace posix_test
