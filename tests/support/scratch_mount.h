// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small file system of the test's own (tmpfs), to make a disk full or read-only for real. It
// needs the right to mount (root in CI); where the machine refuses, ok() is false and the test
// skips with SkipReason().

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace velkorant::testing {

class ScratchMount {
 public:
  explicit ScratchMount(std::size_t bytes = 256 * 1024) {
    path_ = std::filesystem::temp_directory_path() /
            ("velkorant-mount-" + std::to_string(::getpid()) + "-" + std::to_string(++count_));
    std::filesystem::create_directories(path_);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!mounted_)
      error_ = std::strerror(errno);
  }
  ~ScratchMount() {
    if (mounted_)
      ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool ok() const { return mounted_; }
  std::string SkipReason() const {
    return "this machine does not let the test mount a small file system (" + error_ + ")";
  }
  const std::filesystem::path& path() const { return path_; }

  // Fills the file system to its last byte.
  void Fill() const {
    std::ofstream filler(path_ / ".filler", std::ios::binary);
    const std::string block(4096, 'F');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
      filler.flush();
    std::ofstream last(path_ / ".filler-last", std::ios::binary);
    while (last.put('F'))
      last.flush();
  }
  // From now on nothing in it can be written, whoever asks (root included).
  bool MakeReadOnly() const {
    return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  static inline int count_ = 0;
  std::filesystem::path path_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace velkorant::testing
