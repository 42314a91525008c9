#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace velkorant {

FolderLock::FolderLock(std::filesystem::path folder) : folder_(std::move(folder)) {}

FolderLock::~FolderLock() {
  if (fd_ >= 0)
    ::close(fd_);  // closing the descriptor drops the lock
}

bool FolderLock::Acquire(std::chrono::milliseconds wait) {
  if (depth_ > 0) {
    ++depth_;
    return true;
  }
  if (fd_ < 0) {
    // A folder can be locked like a file; no lock file of ours litters it.
    fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
      return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR)
      return false;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  depth_ = 1;
  return true;
}

void FolderLock::Release() {
  if (depth_ == 0)
    return;
  if (--depth_ == 0)
    ::flock(fd_, LOCK_UN);
}

}  // namespace velkorant
