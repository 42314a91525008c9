// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private installation of the program for one test: a working folder (the message stores) made
// the current directory, and a settings folder (XDG_CONFIG_HOME) holding the settings database,
// both removed afterwards. Tests of two installations make two and switch with Use().

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace velkorant::testing {

class Installation {
 public:
  explicit Installation(const std::string& label = "installation") {
    static int count = 0;
    root_ =
        std::filesystem::temp_directory_path() /
        ("velkorant-" + label + "-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(work());
    std::filesystem::create_directories(config());
    if (const char* old = std::getenv("XDG_CONFIG_HOME"))
      old_config_ = old;
    old_directory_ = std::filesystem::current_path();
    Use();
  }
  ~Installation() {
    std::error_code ignored;
    std::filesystem::current_path(old_directory_, ignored);
    old_config_ ? ::setenv("XDG_CONFIG_HOME", old_config_->c_str(), 1)
                : ::unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(root_, ignored);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // Makes this installation the one the program's code finds.
  void Use() const {
    std::filesystem::current_path(work());
    ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
  }

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path work() const { return root_ / "work"; }
  std::filesystem::path config() const { return root_ / "config"; }
  std::filesystem::path settings_file() const {
    return config() / "KRWTN_Software" / "VLKRNTS" / "settings.sqlite3";
  }

  // A file's bytes, empty when it is missing.
  static std::string Bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path root_, old_directory_;
  std::optional<std::string> old_config_;
};

}  // namespace velkorant::testing
