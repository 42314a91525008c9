// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The user's settings: who the user is on the mailbox server, where that server is, three
// options and two pieces of bookkeeping, kept in the section "Opciones" of the per-user
// settings database. A value that is not there reads as its default; a store that cannot be read
// is never mistaken for that: reads then give nothing, and writes return false.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/keyring.h"
#include "platform/settings_db.h"

namespace velkorant {

// Where the mailbox server's scripts answer when the user names no other server.
inline constexpr std::string_view kDefaultServerAddress = "localhost:8443/velkorant/";

inline constexpr std::string_view kOptionsSection = "Opciones";
inline constexpr std::string_view kReceivedCounterEntry = "MsjsRecibidos";
inline constexpr std::string_view kFirstRunEntry = "EjecPrimVez";

struct Settings {
  std::string user_name;
  std::string server_name;
  bool receive_at_startup = false;
  bool receive_every_30_minutes = false;
  bool play_sounds = true;
  std::int32_t received_counter = 0;  // MsjsRecibidos
  std::int32_t first_run = 1;         // EjecPrimVez
};

// The preferences dialog's copy: the options stay the stored integers (0 or 1 when saved).
struct Preferences {
  std::string user_name;
  std::string user_comment;
  std::string server_name;
  std::string server_description;
  std::int32_t receive_at_startup = 0;
  std::int32_t receive_every_30_minutes = 0;
  std::int32_t play_sounds = 1;
};

// What a profile operation came to: ok, or why not. `keyring` says why when the keyring was the
// cause; otherwise the database's problem does.
struct ProfileOutcome {
  bool ok = true;
  KeyringStatus keyring = KeyringStatus::kOk;
  std::string profile;  // for kMissing: whose password the keyring lost (Windows-1252)

  static ProfileOutcome Failed(KeyringStatus keyring = KeyringStatus::kOk,
                               std::string profile = {}) {
    return {false, keyring, std::move(profile)};
  }
  explicit operator bool() const { return ok; }
};

// Sections below the application's root; nested sections are written "A\\B". Section and
// entry names match without regard to letter case.
class SettingsStore {
 public:
  // The user's database at SettingsDatabase::DefaultPath().
  SettingsStore();
  explicit SettingsStore(std::filesystem::path database_path);
  // With another wait for a database locked by another program (tests wait briefly).
  SettingsStore(std::filesystem::path database_path, std::chrono::milliseconds busy_timeout);

  // The default when the section or entry is absent; nullopt when the store cannot be read.
  std::optional<std::string> ReadText(std::string_view section, std::string_view entry,
                                      std::string_view default_value = {});
  std::optional<std::int32_t> ReadInt(std::string_view section, std::string_view entry,
                                      std::int32_t default_value);
  // The section and the ones above it are created when absent.
  bool WriteText(std::string_view section, std::string_view entry, std::string_view value);
  bool WriteInt(std::string_view section, std::string_view entry, std::int32_t value);
  // Several values of one section in the given order, all or none; std::monostate removes one.
  struct Entry {
    std::string_view name;
    std::variant<std::string_view, std::int32_t, std::monostate> value;
  };
  bool WriteValues(std::string_view section, std::span<const Entry> entries);
  bool WriteValues(std::string_view section, std::initializer_list<Entry> entries) {
    return WriteValues(section, std::span(entries.begin(), entries.size()));
  }

  // The names of the subsections, ascending without regard to case; empty when the section is
  // absent, nullopt when the store cannot be read.
  std::optional<std::vector<std::string>> ListSubsections(std::string_view section);
  // Whether the section can be opened, i.e. exists; nothing is created.
  bool SectionExists(std::string_view section);
  // A section that has subsections is not deleted.
  DeleteKeyResult DeleteSection(std::string_view section);

  SettingsDatabase& database() { return database_; }
  // Whether the last operation worked.
  bool ok() const { return database_.status() == SettingsDatabaseStatus::kOk; }
  // "FILE: what went wrong." + `between` + "What the user can do about it.", in Spanish
  // (Windows-1252).
  std::string DescribeProblem(std::string_view between = " ") const;
  // The same about the keyring when it was the profile operation's cause.
  std::string DescribeProblem(const ProfileOutcome& outcome, std::string_view between = " ") const;

  // Where the profiles' passwords are kept when the desktop has a keyring. Its calls read (and
  // once write) this store's database, on the thread that makes them.
  Keyring& keyring() { return keyring_; }

 private:
  // The identifier the keyring's items carry in place of the database's path.
  std::optional<std::string> InstallationId(bool create);

  SettingsDatabase database_;
  Keyring keyring_;
};

// nullopt when the store cannot be read: then nothing may be taken for the user's settings.
std::optional<Settings> LoadSettings(SettingsStore& store);
// MsjsRecibidos, then EjecPrimVez.
bool SaveCounters(SettingsStore& store, const Settings& settings);
std::optional<Preferences> LoadPreferences(SettingsStore& store);
// All seven values every time, empty texts included; with a received counter, that is written in
// the same transaction (a new user name's counter starts over with it).
bool SavePreferences(SettingsStore& store, const Preferences& preferences,
                     std::optional<std::int32_t> received_counter = std::nullopt);

}  // namespace velkorant
