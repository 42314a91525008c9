// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A backup of an installation as one tar archive that standard tools open:
//   MANIFIESTO.txt          first; a text for people and for the checks before a restore
//   settings.sqlite3        the settings database, taken with SQLite's backup interface, with
//                           every password removed from it
//   mensajes_enviados.ini   the message stores, byte for byte, when the installation has them
//   mensajes_recibidos.ini
//   contrasenas.cifradas    the profiles' passwords, only when asked: AES-256-GCM under a key
//                           scrypt derives from a passphrase the user types
// Making one reads the installation and writes nothing of it; opening one checks every file
// against the manifest and writes nothing anywhere.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_store.h"
#include "store/message_store.h"

namespace velkorant {

inline constexpr std::string_view kManifestFile = "MANIFIESTO.txt";
inline constexpr std::string_view kSettingsFile = "settings.sqlite3";
inline constexpr std::string_view kPasswordsFile = "contrasenas.cifradas";

// A folder only this process's user may enter, removed with everything in it: where a backup's
// settings are copied or read. Its path is empty when none could be made.
class PrivateFolder {
 public:
  PrivateFolder();
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// scrypt's costs. The defaults are what backups are sealed with: 128 MiB and a fraction of a
// second, the strength recommended for passwords at rest today.
struct ScryptParameters {
  std::uint64_t n = std::uint64_t{1} << 17;
  std::uint32_t r = 8;
  std::uint32_t p = 1;
};
// Whether a box sealed with these may be opened: costs beyond them would let a hostile archive
// hold the program for minutes or take gigabytes of memory.
bool AcceptableScrypt(const ScryptParameters& parameters);

struct ProfilePassword {
  std::string profile;   // the profile's section below "PerfilPass": "Amigos", "Grupo\\Amigos"
  std::string password;  // Windows-1252
};

// Profiles' passwords, wiped from memory when the list goes; never copied.
class ProfilePasswords {
 public:
  ProfilePasswords() = default;
  ~ProfilePasswords();
  ProfilePasswords(const ProfilePasswords&) = delete;
  ProfilePasswords& operator=(const ProfilePasswords&) = delete;
  ProfilePasswords(ProfilePasswords&& other) noexcept : entries(std::move(other.entries)) {}
  // The old entries go to `other`, which wipes them in its turn.
  ProfilePasswords& operator=(ProfilePasswords&& other) noexcept {
    entries.swap(other.entries);
    return *this;
  }

  std::vector<ProfilePassword> entries;
};

enum class BackupProblem {
  kNone,
  kDamaged,          // not a backup of this program, or changed since it was made
  kWrongPassphrase,  // the passwords' box does not open with the passphrase given
  kFailed,           // making one: the installation could not be read
};

// The passwords' box, or empty when the parameters are not acceptable or no random numbers
// could be had.
std::string SealPasswords(const ProfilePasswords& passwords, std::string_view passphrase,
                          const ScryptParameters& parameters = {});

struct PasswordsOpen {
  BackupProblem problem = BackupProblem::kNone;
  std::string error;  // Spanish, Windows-1252
  ProfilePasswords passwords;
};
PasswordsOpen OpenPasswords(std::string_view box, std::string_view passphrase);

struct BackupManifest {
  std::string program_version;
  std::string user_name;  // Windows-1252
  std::int32_t received_counter = 0;
  std::string date;  // as written: "2026-12-07 13:04:23 UTC"
};

struct BackupMake {
  std::string archive;
  std::string error;  // why none was made (Spanish, Windows-1252)

  explicit operator bool() const { return error.empty(); }
};

// The passwords to put in the backup, and what to seal them with.
struct PasswordSeal {
  const ProfilePasswords& passwords;
  std::string_view passphrase;
  ScryptParameters parameters = {};
};

// The backup's bytes. The message files are read under the folder's lock (as every change of
// the message store takes it), and the settings copied while it is held, so that the counter
// and the messages belong together.
BackupMake MakeBackup(SettingsStore& store, const std::filesystem::path& message_folder,
                      const std::optional<PasswordSeal>& passwords,
                      std::chrono::milliseconds lock_wait = MessageStore::kLockWait);

struct BackupOpen {
  BackupProblem problem = BackupProblem::kNone;
  std::string error;  // Spanish, Windows-1252
  BackupManifest manifest;
  std::string settings;  // the settings database file's bytes
  std::optional<std::string> sent_messages;
  std::optional<std::string> received_messages;
  bool has_passwords = false;
  ProfilePasswords passwords;  // opened only when a passphrase was given

  explicit operator bool() const { return problem == BackupProblem::kNone; }
};

// Every file checked against the manifest (digest, size, nothing more and nothing less), and
// the passwords opened when a passphrase is given. On any failure nothing but the problem and
// its error is given.
BackupOpen OpenBackup(std::string_view archive, std::optional<std::string_view> passphrase);

}  // namespace velkorant
