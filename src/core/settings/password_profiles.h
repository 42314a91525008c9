// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Password profiles: the passwords agreed with other people, each under a name with four
// comment lines, kept as subsections of "PerfilPass" in the settings store. The subsection
// "Seleccion" is reserved for the copy of the profile saved last through the profiles dialog.
//
// Where the desktop has a keyring, a profile's password is kept there, labelled "Velkorant:
// perfil NAME", and its section holds "PasswordEnLlavero" = 1 in place of "Password". Without
// one, passwords stay in the section in clear, as they always were. Reads that need the keyring
// and cannot have it fail (their outcome tells why); they never give an empty password instead.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_store.h"

namespace velkorant {

inline constexpr std::string_view kProfilesSection = "PerfilPass";
inline constexpr std::string_view kReservedProfileName = "Seleccion";

struct PasswordProfile {
  std::string name;  // PerfilNombre: the name as typed when saved
  std::string password;
  std::array<std::string, 4> comments;  // Comentario1..4

  bool operator==(const PasswordProfile&) const = default;
};

// "PerfilPass\\<name>": a name holding a backslash therefore nests.
std::string ProfileSection(std::string_view name);

// The profile names, ascending without regard to case; "Seleccion" (exactly so written) is
// skipped, and a name of 50 characters or more ends the list. nullopt when the store cannot be
// read.
std::optional<std::vector<std::string>> EnumerateProfiles(SettingsStore& store);
// Why the stores cannot hold `name` as a profile, for the user (Windows-1252), or nullopt:
// "Seleccion" in any letter case is the reserved copy, and a backslash would nest the profile
// inside another. An empty name is left to the caller's own check, which comes first.
std::optional<std::string> ProfileNameProblem(std::string_view name);

struct ProfileRead {
  std::optional<PasswordProfile> profile;
  ProfileOutcome outcome;
};
// Missing values read as empty; no profile when the store or the keyring cannot be read. A
// password the keyring should hold and does not fails the read as well (the outcome names the
// profile), unless `password_missing` is given: then the profile comes back with an empty
// password and *password_missing true, so that the user can type the password again.
ProfileRead ReadProfile(SettingsStore& store, std::string_view name,
                        bool* password_missing = nullptr);
// PerfilNombre, Password, Comentario1..4 in this order; the section is created when absent. The
// password goes to the keyring first, when there is one: the database changes only after the
// keyring took it.
ProfileOutcome WriteProfile(SettingsStore& store, std::string_view name,
                            const PasswordProfile& profile);
// Whether the profile's key could be had: ok also when there was no such profile, and when the
// key was kept because it has subkeys. Failed only when the store could not be used, or the
// keyring holding its password could not delete it.
ProfileOutcome DeleteProfile(SettingsStore& store, std::string_view name);

enum class PasswordPlace {
  kKeyring,      // a keyring answers: every password is in it
  kDatabase,     // no keyring answers: passwords stay in the database, in clear
  kUnavailable,  // the keyring or the database failed: the outcome tells why
};
struct PasswordMove {
  PasswordPlace place = PasswordPlace::kKeyring;
  ProfileOutcome outcome;
};
// Moves every password still in clear in the database (nested and reserved sections too) into
// the keyring. Each is removed from the database only after the keyring confirmed it, so a move
// cut short anywhere loses nothing and the next one finishes it.
PasswordMove MovePasswordsToKeyring(SettingsStore& store);
// The one line that says where passwords are kept when no keyring answers (Windows-1252).
std::string PasswordsInDatabaseNotice(SettingsStore& store);

struct PasswordListEntry {
  std::string password;
  std::string fingerprint;  // Crc32Hex of the password
  std::string profile_name;
};

// The passwords the program encrypts and decrypts with, one per listed profile that has one,
// in enumeration order. The passwords are wiped from memory when the list is rebuilt or goes.
class PasswordList {
 public:
  PasswordList() = default;
  ~PasswordList();
  PasswordList(const PasswordList&) = delete;
  PasswordList& operator=(const PasswordList&) = delete;
  // Hands a list read on another thread over without copying a password.
  void swap(PasswordList& other) noexcept { entries_.swap(other.entries_); }

  // Failed, with an empty list, when the store or the keyring cannot be read, or the keyring has
  // lost a profile's password.
  ProfileOutcome LoadPasswordList(SettingsStore& store);
  // The index of the first entry whose fingerprint equals `fingerprint` exactly, or -1.
  int FindProfileByFingerprint(std::string_view fingerprint) const;

  const std::vector<PasswordListEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  void Clear();

  std::vector<PasswordListEntry> entries_;
};

}  // namespace velkorant
