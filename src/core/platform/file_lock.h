// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An exclusive lock shared by every process of the program (the desktop program and
// velkorant-cli): on a folder, for the stores in it, so that two writers never pick the same
// message number or overwrite each other's changes; or on a lock file, for what has no folder of
// its own (a receive run of one settings database). A kernel lock (flock): it goes with the
// process that held it, so a killed process never leaves a stale lock behind. Reentrant within
// one object; two objects on one path exclude each other, also within one process.

#include <chrono>
#include <filesystem>
#include <functional>
#include <utility>

#include "platform/unique_fd.h"

namespace velkorant {

class FileLock {
 public:
  enum class Target {
    kFolder,    // the folder itself is locked; no file of ours litters it
    kLockFile,  // a file made (mode 0600) for nothing but the lock
  };

  explicit FileLock(std::filesystem::path path, Target target = Target::kFolder);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits up to `wait` for other processes to let go. False when the lock could not be had.
  bool Acquire(std::chrono::milliseconds wait);
  void Release();
  bool held() const { return depth_ > 0; }
  // Why the last Acquire failed other than by waiting (the folder or lock file cannot be opened
  // or locked), as an errno value; 0 when another process held the lock.
  int open_error() const { return open_error_; }
  // A wait ends at once when this says so (asked from the waiting thread while it waits; set
  // from another thread: the program quits).
  void SetCancelCheck(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
  const std::filesystem::path& path() const { return path_; }

  // Holds the lock for a scope, or hands it on by a move (to a batch that spans calls); check
  // ok() before writing.
  class Guard {
   public:
    Guard(FileLock& lock, std::chrono::milliseconds wait) : lock_(&lock), ok_(lock.Acquire(wait)) {}
    Guard(Guard&& other) noexcept : lock_(std::exchange(other.lock_, nullptr)), ok_(other.ok_) {}
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (ok())
        lock_->Release();
    }
    bool ok() const { return ok_ && lock_ != nullptr; }

   private:
    FileLock* lock_;
    bool ok_;
  };

 private:
  std::filesystem::path path_;
  Target target_;
  UniqueFd fd_;  // closing it drops the lock
  int depth_ = 0;
  int open_error_ = 0;
  std::function<bool()> cancelled_;
};

}  // namespace velkorant
