// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Bringing settings, password profiles and messages from another place (the Windows program's
// registry and files, Wine's, a backup) into this installation, safely: first a plan that says
// what would change and what cannot be taken, then, once the user agrees, the same plan carried
// out under the locks the program's own writers take. What the user has stays: a counter never
// goes down for the same user, another user is replaced only when asked (their messages set
// aside, never mixed), and a message already here is never stored twice.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "settings/settings_store.h"
#include "store/message_store.h"
#include "transfer/settings_snapshot.h"

namespace velkorant {

struct ImportSource {
  SettingsSnapshot settings;
  // Passwords kept apart from the settings (a backup's sealed box): profile path below
  // "PerfilPass" -> password. They win over a Password value of the snapshot.
  std::map<std::string, std::string> passwords;
  // The message files the source holds, as found (sent, received).
  std::optional<std::string> message_files[2];
};

struct ImportOptions {
  // Take the source's user in place of another one here, setting this user's messages aside.
  bool replace_user = false;
  // When the replaced user's files are set aside, their new names carry this day.
  std::time_t now = std::time(nullptr);
};

// Why a message file cannot be taken, naming the line ("línea 12: ..."; Windows-1252), or nothing
// when every line is one the program writes and the file ends where a line ends. Only bytes:
// a file that cannot be read whole is the caller's to report.
std::optional<std::string> CheckMessageFile(std::string_view bytes, bool enviado);

// Two messages are the same when every value of their sections but the number is the same, byte
// for byte.
struct MessageMerge {
  std::string bytes;     // the file with the new messages appended
  int added = 0;         // messages appended, with the next numbers
  int already_here = 0;  // messages of the source this file already holds
};
// `ours` with the messages of `theirs` it lacks appended, in `theirs`'s order, each once. Both
// must pass CheckMessageFile. nullopt when the numbers would run past MessageStore::kHighestNumero.
std::optional<MessageMerge> MergeMessageFiles(std::string_view ours, std::string_view theirs,
                                              bool enviado);

class InstallationImport {
 public:
  // `settings`: the installation's settings store; `messages`: its message store (its folder
  // and lock). Neither is changed before Apply().
  InstallationImport(SettingsStore& settings, MessageStore& messages);

  struct Plan {
    // What would change, one line each for the user (Windows-1252).
    std::vector<std::string> changes;
    // What the source holds that is left out (the snapshot's problems among them).
    std::vector<std::string> problems;
    // Why nothing can be done; then `changes` may be incomplete.
    std::optional<std::string> refusal;
    // The refusal is only that the source is another user's: replace_user would take it.
    bool other_user = false;

    bool ok() const { return !refusal.has_value(); }
  };

  // Reads the installation and says what Apply would do. Nothing is written.
  Plan MakePlan(const ImportSource& source, const ImportOptions& options);

  // Carries the plan out: plans again under the receive runs' lock and the message folder's lock,
  // and goes ahead only when that plan is still `agreed` (what the user said yes to). The message
  // files change first, then the profiles, then the options with the counter, so that a failure
  // half-way never leaves a counter past messages that are not here. Failed with the reason, and
  // what was done by then, in the error (Windows-1252).
  FileOutcome Apply(const ImportSource& source, const ImportOptions& options, const Plan& agreed);

  // How long Apply waits for a receive run of another process, and for the folder's lock.
  void SetLockWait(std::chrono::milliseconds wait) { lock_wait_ = wait; }

 private:
  struct Work;
  Plan Prepare(const ImportSource& source, const ImportOptions& options, Work& work);
  FileOutcome Carry(const Work& work);

  SettingsStore& settings_;
  MessageStore& messages_;
  std::chrono::milliseconds lock_wait_ = MessageStore::kLockWait;
};

}  // namespace velkorant
