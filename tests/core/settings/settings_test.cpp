// SPDX-License-Identifier: GPL-3.0-or-later
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "support/installation.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::Installation;

TEST(Settings, PreferencesCountersAndProfiles) {
  const Installation installation;
  SettingsStore store;
  const auto fields = [](const Preferences& p) {
    return std::tie(p.user_name, p.user_comment, p.server_name, p.server_description,
                    p.receive_at_startup, p.receive_every_30_minutes, p.play_sounds);
  };
  const Preferences preferences{"Hannah_desert", "yo", "buzon.example.org/v/", "casa", 7, -1, 0};
  ASSERT_TRUE(SavePreferences(store, preferences, 12));
  EXPECT_EQ(fields(LoadPreferences(store).value()), fields(preferences));
  // Empty texts are stored too; without a counter the stored one stays.
  ASSERT_TRUE(SavePreferences(store, {}));
  EXPECT_EQ(fields(LoadPreferences(store).value()), fields(Preferences{}));
  EXPECT_EQ(LoadSettings(store)->received_counter, 12);

  // Saved as the profiles dialog saves them: the reserved copy, then the profile. "Bruno" has no
  // password, 50 characters end the list and the reserved key is in any case.
  const std::string v49 = "V" + std::string(48, 'x'), w50 = "W" + std::string(49, 'x');
  for (const std::string& name : {"ana"s, "carla"s, "Bruno"s, v49, w50, "Z"s, "SELECCION"s}) {
    const PasswordProfile profile{name, name == "Bruno" ? "" : "misma clave", "", "", "", ""};
    ASSERT_TRUE(WriteProfile(store, kReservedProfileName, profile) &&
                WriteProfile(store, name, profile));
  }
  EXPECT_EQ(EnumerateProfiles(store), (std::vector<std::string>{"ana", "Bruno", "carla", v49}));
  PasswordList list;
  ASSERT_TRUE(list.LoadPasswordList(store) && list.LoadPasswordList(store));
  std::string entries;
  for (const PasswordListEntry& entry : list.entries())
    entries += entry.profile_name.substr(0, 2) + entry.password + entry.fingerprint + " ";
  EXPECT_EQ(entries, "anmisma claveE2E252D7 camisma claveE2E252D7 Vxmisma claveE2E252D7 ");
  EXPECT_EQ(list.FindProfileByFingerprint("E2E252D7"), 0);  // the first of three
}

TEST(Settings, AStoreThatCannotBeReadIsNeverTakenForAnEmptyOne) {
  const Installation installation;
  const fs::path file = installation.settings_file();
  using Hold = std::shared_ptr<void>;
  const auto put = [&file](std::string bytes) {
    return [&file, bytes] { return std::ofstream(file) << bytes, Hold(); };
  };
  const auto sql = [&file](const char* statements) {
    return [&file, statements] {
      sqlite3* db = nullptr;
      EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
      EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK);
      return Hold(db, [](void* open) { sqlite3_close(static_cast<sqlite3*>(open)); });
    };
  };
  struct Case {
    const char* name;
    std::function<Hold()> spoil;
    const char* reason;  // nullptr: no trouble at all
    bool passes;         // the store works again once the trouble is over
    bool readable = false;
  } const cases[] = {
      {"absent values", [] { return Hold(); }, nullptr, true},
      {"empty file", put(""), nullptr, true},
      {"locked by another program", sql("BEGIN EXCLUSIVE"), "ocupado", true},
      // Made read-only by its owner: even root does not write it.
      {"read-only", [&file] { return fs::permissions(file, fs::perms::owner_read), Hold(); },
       "sólo lectura", true, true},
      {"newer version", sql("PRAGMA user_version = 2"), "más reciente", false},
      {"folder", [&file] { return fs::remove(file), fs::create_directory(file), Hold(); },
       "una carpeta", false},
      {"link",
       [&file] {  // its target would be written instead, however private it is
         fs::rename(file, file.string() + ".real");
         return fs::create_symlink(file.filename().string() + ".real", file), Hold();
       },
       "un enlace", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file);
    ASSERT_TRUE(SettingsDatabase(file).WriteText("PerfilPass\\Amigo", "Password", "clave"));
    Hold hold = c.spoil();
    SettingsStore store(file, std::chrono::milliseconds(100));
    // Every read and write of the program's settings. What cannot be read gives no value (never
    // a default); what fails leaves the file's bytes as they were and tells which file and why.
    const std::string before = fs::is_directory(file) ? "" : Installation::Bytes(file);
    const bool readable = c.reason == nullptr || c.readable, writable = c.reason == nullptr;
    const auto settings = LoadSettings(store);
    EXPECT_EQ(settings && settings->server_name == "localhost:8443/velkorant/" &&
                  settings->first_run && settings->play_sounds,
              readable);
    EXPECT_EQ(std::tuple(LoadPreferences(store).has_value(), EnumerateProfiles(store).has_value(),
                         ReadProfile(store, "Amigo").profile.has_value()),
              std::tuple(readable, readable, readable));
    EXPECT_EQ(std::tuple(SavePreferences(store, {}, 3), WriteProfile(store, "Otro", {}).ok,
                         DeleteProfile(store, "Amigo").ok),
              std::tuple(writable, writable, writable));
    if (c.reason != nullptr) {
      EXPECT_EQ(fs::is_directory(file) ? "" : Installation::Bytes(file), before);
      EXPECT_THAT(AnsiToUtf8(store.DescribeProblem()),
                  ::testing::AllOf(::testing::StartsWith(file.string() + ": "),
                                   ::testing::HasSubstr(c.reason)));
    }
    hold.reset();
    EXPECT_EQ(LoadSettings(store).has_value(), c.passes);
  }
}

}  // namespace
}  // namespace velkorant
