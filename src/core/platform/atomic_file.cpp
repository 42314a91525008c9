// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/ansi_text.h"
#include "platform/unique_fd.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 +
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return stamp;
}

int OpenReadOnly(const fs::path& path, int extra_flags = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | extra_flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool SyncPath(const fs::path& path, bool folder) {
  UniqueFd fd(OpenReadOnly(path, folder ? O_DIRECTORY : 0));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

fs::path FolderOf(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

}  // namespace

std::string DescribeFileError(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return Ansi("el disco está lleno");
    case EROFS:
      return Ansi("el disco es de sólo lectura");
    case EACCES:
    case EPERM:
      return Ansi("no hay permiso para escribir en la carpeta");
    case EISDIR:
      return "es una carpeta, no un archivo";
    case EIO:
      return Ansi("error de entrada/salida del disco");
    default:
      return Utf8ToAnsi(std::strerror(error));
  }
}

FileStatus StatFile(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return {errno == ENOENT || errno == ENOTDIR ? FileState::kMissing : FileState::kUnreadable, {}};
  }
  if (!S_ISREG(st.st_mode))
    return {FileState::kUnreadable, StampOf(st)};
  return {FileState::kPresent, StampOf(st)};
}

FileContent ReadFileContent(const fs::path& path) {
  FileContent content;
  UniqueFd fd(OpenReadOnly(path));
  if (!fd.valid()) {
    content.state =
        errno == ENOENT || errno == ENOTDIR ? FileState::kMissing : FileState::kUnreadable;
    return content;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    content.state = FileState::kUnreadable;
    return content;
  }
  content.stamp = StampOf(st);
  content.bytes.reserve(static_cast<std::size_t>(st.st_size));
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      content.state = FileState::kUnreadable;
      content.bytes.clear();
      return content;
    }
    if (got == 0)
      break;
    content.bytes.append(buffer.data(), static_cast<std::size_t>(got));
  }
  content.state = FileState::kPresent;
  return content;
}

AtomicFileWriter::AtomicFileWriter()
    : write_call_(
          [](int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }) {}

void AtomicFileWriter::SetWriteCall(WriteCall call) {
  write_call_ = std::move(call);
}

FileOutcome AtomicFileWriter::Write(const fs::path& path, std::string_view bytes,
                                    FileStamp* written) {
  const fs::path folder = FolderOf(path);
  struct stat old {};
  const bool exists = ::lstat(path.c_str(), &old) == 0;
  if (exists && S_ISLNK(old.st_mode))
    return FileOutcome::Failed(Ansi("es un enlace simbólico; no se escribe a través de él"));
  if (exists && S_ISDIR(old.st_mode))
    return FileOutcome::Failed(DescribeFileError(EISDIR));
  if (exists && !S_ISREG(old.st_mode))
    return FileOutcome::Failed("no es un archivo normal");
  // Mode bits, not access(2): a root process could write anyway, and would undo the user's choice.
  if (exists && (old.st_mode & 0222) == 0)
    return FileOutcome::Failed(Ansi("es de sólo lectura"));

  std::string name = (folder / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.valid())
    return FileOutcome::Failed(DescribeFileError(errno));
  const fs::path temporary(name);
  struct Cleanup {
    const fs::path& file;
    bool armed = true;
    ~Cleanup() {
      if (armed)
        ::unlink(file.c_str());
    }
  } cleanup{temporary};

  // mkostemp's 0600 is cut by the umask; set it exactly, or take over the old file's mode.
  const mode_t mode = exists ? (old.st_mode & 07777) : 0600;
  if (::fchmod(fd.get(), mode) != 0)
    return FileOutcome::Failed(DescribeFileError(errno));

  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write_call_(fd.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return FileOutcome::Failed(DescribeFileError(put == 0 ? ENOSPC : errno));
    done += static_cast<std::size_t>(put);
  }
  if (!deferred_ && ::fsync(fd.get()) != 0)
    return FileOutcome::Failed(DescribeFileError(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !fd.Close() || ::rename(temporary.c_str(), path.c_str()) != 0)
    return FileOutcome::Failed(DescribeFileError(errno));
  cleanup.armed = false;

  if (deferred_) {
    pending_files_.insert(path);
    pending_folders_.insert(folder);
  } else if (!SyncPath(folder, true)) {
    // The new content is in place; only its durability is in doubt. Retry at the next Sync().
    pending_folders_.insert(folder);
  }
  if (written != nullptr)
    *written = StampOf(st);
  return {};
}

void AtomicFileWriter::SetDeferredSync(bool deferred) {
  if (deferred_ && !deferred)
    Sync();
  deferred_ = deferred;
}

FileOutcome AtomicFileWriter::Sync() {
  bool ok = true;
  for (const fs::path& file : pending_files_)
    ok = SyncPath(file, false) && ok;
  for (const fs::path& folder : pending_folders_)
    ok = SyncPath(folder, true) && ok;
  pending_files_.clear();
  pending_folders_.clear();
  return ok ? FileOutcome() : FileOutcome::Failed(DescribeFileError(errno));
}

}  // namespace velkorant
