// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tar archives of plain files, in memory: what a backup is made of. Written as POSIX ustar, so
// that tar, file managers and Python read it; read strictly, because an archive may come from
// anyone: only regular files with plain names (no folders, no paths, no links), each once, every
// header checked.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velkorant {

struct TarEntry {
  std::string name;  // a plain file name: 1 to 100 bytes, no "/", no NUL
  std::string data;

  bool operator==(const TarEntry&) const = default;
};

// The archive's files in order (mode 0600, owner 0, modification time `mtime` in seconds since
// 1970), then the two empty blocks that end it. Empty when a name cannot be written as given.
std::string WriteTar(std::span<const TarEntry> entries, std::int64_t mtime);

struct TarLimits {
  std::size_t max_entries = 64;
  std::uint64_t max_entry_size = std::uint64_t{1} << 31;
};

struct TarRead {
  std::vector<TarEntry> entries;  // empty whenever `error` is not
  std::string error;  // what is wrong and where, in Spanish (Windows-1252); empty when read

  explicit operator bool() const { return error.empty(); }
};

// The entries of a ustar archive (also GNU tar's and Python's ustar and GNU flavours), or why
// it cannot be taken: anything but regular files, a damaged or truncated header or file, a name
// that is not a plain file name or comes twice, more or larger files than the limits, or
// anything but zero bytes after the end.
TarRead ReadTar(std::string_view bytes, const TarLimits& limits = {});

}  // namespace velkorant
