// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <thread>

namespace velkorant {

FileLock::FileLock(std::filesystem::path path, Target target)
    : path_(std::move(path)), target_(target) {}

bool FileLock::Acquire(std::chrono::milliseconds wait) {
  if (depth_ > 0) {
    ++depth_;
    return true;
  }
  open_error_ = 0;
  if (!fd_.valid()) {
    // A link at the lock file's name is not followed: it could make the lock create a file
    // anywhere its target points.
    fd_.Reset(target_ == Target::kFolder
                  ? ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                  : ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_.valid()) {
      open_error_ = errno;
      return false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      open_error_ = errno;
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline || (cancelled_ && cancelled_()))
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  depth_ = 1;
  return true;
}

void FileLock::Release() {
  if (depth_ == 0)
    return;
  if (--depth_ == 0)
    ::flock(fd_.get(), LOCK_UN);
}

}  // namespace velkorant
