// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whole-file reads and all-or-nothing rewrites. A rewrite goes to a temporary file in the target's
// folder, is flushed and renamed over the target, so a crash or a full disk leaves either the old
// file or the new one, never a torn mix.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace velkorant {

// What identifies a file's content cheaply: a change of any field means it must be read again.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;

  bool operator==(const FileStamp&) const = default;
};

enum class FileState { kPresent, kMissing, kUnreadable };

struct FileContent {
  FileState state = FileState::kMissing;
  FileStamp stamp;
  std::string bytes;
};

struct FileStatus {
  FileState state = FileState::kMissing;
  FileStamp stamp;
};

FileStatus StatFile(const std::filesystem::path& path);
// What a failed file operation's errno means to the user, in Spanish (Windows-1252).
std::string DescribeFileError(int error);
// The stamp belongs to the bytes returned: it is taken from the open file before reading.
FileContent ReadFileContent(const std::filesystem::path& path);

// What a file operation came to: ok, or why not, in the user's language (Windows-1252). An edit
// that refused fails without a reason of the file's.
struct FileOutcome {
  bool ok = true;
  std::string error;

  static FileOutcome Failed(std::string error) { return {false, std::move(error)}; }
  explicit operator bool() const { return ok; }
};

class AtomicFileWriter {
 public:
  // Puts bytes into the temporary file, with write(2)'s contract; tests swap it for one that
  // fails part-way to simulate a full disk.
  using WriteCall = std::function<ssize_t(int fd, const char* data, std::size_t size)>;

  AtomicFileWriter();

  // Replaces the file at `path` by `bytes`. A new file gets mode 0600, an existing one keeps its
  // mode. A symbolic link, something other than a file, or a file nobody may write is refused
  // and left alone: replacing it would write where the user did not mean to, or undo a choice.
  // On success `written` (if given) receives the new file's stamp. On failure the old file is
  // untouched and no temporary file is left.
  FileOutcome Write(const std::filesystem::path& path, std::string_view bytes,
                    FileStamp* written = nullptr);

  // Deferred: writes are still atomic for other processes and against a crash of this one, but
  // reach the disk only at Sync(); a flow making many rewrites flushes once at its end.
  // Turning deferral off syncs what is pending.
  void SetDeferredSync(bool deferred);
  bool deferred_sync() const { return deferred_; }
  // Flushes every file and folder written since the last sync; fails if any flush failed.
  FileOutcome Sync();

  void SetWriteCall(WriteCall call);

 private:
  WriteCall write_call_;
  bool deferred_ = false;
  std::set<std::filesystem::path> pending_files_;
  std::set<std::filesystem::path> pending_folders_;
};

}  // namespace velkorant
