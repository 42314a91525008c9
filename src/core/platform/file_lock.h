#pragma once

// An exclusive lock on a folder shared by every process of the program (the desktop program and
// velkorant-cli) that writes the stores in it, so that two of them never pick the same message
// number or overwrite each other's changes. Reentrant within one process.

#include <chrono>
#include <filesystem>

namespace velkorant {

class FolderLock {
 public:
  explicit FolderLock(std::filesystem::path folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Waits up to `wait` for other processes to let go. False when the lock could not be had.
  bool Acquire(std::chrono::milliseconds wait);
  void Release();
  bool held() const { return depth_ > 0; }

  // Holds the lock for a scope; check ok() before writing.
  class Guard {
   public:
    Guard(FolderLock& lock, std::chrono::milliseconds wait)
        : lock_(lock), ok_(lock.Acquire(wait)) {}
    ~Guard() {
      if (ok_)
        lock_.Release();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    bool ok() const { return ok_; }

   private:
    FolderLock& lock_;
    bool ok_;
  };

 private:
  std::filesystem::path folder_;
  int fd_ = -1;
  int depth_ = 0;
};

}  // namespace velkorant
