// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Windows registry files as bytes: the exports regedit reads and writes, and Wine's own registry
// file (a prefix's user.reg). Reading gives the file's operations in order; nothing here opens a
// file, so the readers can be given any bytes at all.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/settings_snapshot.h"

namespace velkorant {

// Registry value types, by their Windows numbers.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

enum class RegistryOpKind {
  kKey,          // [KEY]: creates the key; the values after it go there
  kDeleteKey,    // [-KEY]: removes the key and everything below it
  kValue,        // "NAME"=data
  kDeleteValue,  // "NAME"=-
};

struct RegistryOp {
  RegistryOpKind kind = RegistryOpKind::kKey;
  int line = 0;  // 1-based, where the operation starts
  // The whole path, "HKEY_CURRENT_USER\\Software\\..." (Wine's keys get that root in front).
  std::u16string key;
  std::u16string name;  // empty: the key's default value (@)
  std::uint32_t type = 0;
  // The bytes as a Windows registry holds them: texts (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) in
  // UTF-16LE with their terminating NUL, also when the file held them as 8-bit text.
  std::string data;
};

struct RegistryParse {
  std::vector<RegistryOp> ops;  // empty whenever there is an error
  int error_line = 0;
  std::string error;  // "línea 12: ..." for the user (Windows-1252); empty when the file was read
  bool ok() const { return error.empty(); }
};

// The code units of UTF-16LE bytes; an odd last byte is left out.
std::u16string FromUtf16Le(std::string_view bytes);

// "Windows Registry Editor Version 5.00" in UTF-16LE with its byte-order mark, as regedit writes
// it, or "REGEDIT4" in Windows-1252 (its hex(1), hex(2) and hex(7) data too). Either header in a
// file without the UTF-16 mark is read as Windows-1252, as regedit reads it on a Western system,
// unless the file is UTF-8 (it has the UTF-8 mark, or is valid UTF-8 with a character beyond
// ASCII): then it was saved by an editor here, and is read as UTF-8.
RegistryParse ParseRegeditFile(std::string_view bytes);

// "WINE REGISTRY Version 2": keys relative to HKEY_CURRENT_USER, ASCII with escapes.
RegistryParse ParseWineRegistry(std::string_view bytes);

// A regedit file of the snapshot below HKEY_CURRENT_USER\Software\KRWTN_Software\VLKRNTS, as
// regedit exports it: UTF-16LE with the byte-order mark, CR LF, the deletions first.
std::string WriteRegeditFile(const SettingsSnapshot& snapshot);

}  // namespace velkorant
