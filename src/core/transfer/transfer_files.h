// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The files of a move: reading what an import or a restore brings, and writing an export for the
// Windows program or a backup. Texts for the user are Windows-1252.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/atomic_file.h"
#include "settings/settings_store.h"
#include "transfer/installation_import.h"

namespace velkorant {

struct SourceRead {
  std::optional<ImportSource> source;
  std::string error;  // why there is none
  // Where the settings and the messages were found, one line each, for the user.
  std::vector<std::string> found;
};

// A regedit file (either encoding), Wine's user.reg or a Wine prefix holding it, or a folder
// holding either beside the two message files.
SourceRead ReadWindowsSource(const std::filesystem::path& origin);

// A backup made by WriteBackup. The passwords it holds are opened with `passphrase`; without one
// it brings none (and says so in `found`).
SourceRead ReadBackup(const std::filesystem::path& archive,
                      const std::optional<std::string>& passphrase);

// The settings and profiles as a regedit file the Windows program's registry can import; the
// passwords only when asked.
FileOutcome ExportWindows(SettingsStore& settings, const std::filesystem::path& destination,
                          bool with_passwords);

// The message files of `folder`, the settings and, with a passphrase, the passwords sealed with
// it, in one archive at `destination`.
FileOutcome WriteBackup(SettingsStore& settings, const std::filesystem::path& folder,
                        const std::filesystem::path& destination,
                        const std::optional<std::string>& passphrase);

// A passphrase for the passwords of a backup must be at least this long.
inline constexpr std::size_t kMinPassphraseLength = 8;

}  // namespace velkorant
