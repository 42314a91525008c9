#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>

#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "support/installation.h"
#include "support/scratch_mount.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

TEST(Settings, PreferencesAndCounters) {
  const Installation installation;
  SettingsStore store;
  Preferences preferences{"Hannah_desert", "yo", "buzon.example.org/v/", "el de casa", 7, -1, 0};
  ASSERT_TRUE(SavePreferences(store, preferences, 12));
  const auto fields = [](const Preferences& p) {
    return std::tie(p.user_name, p.user_comment, p.server_name, p.server_description,
                    p.receive_at_startup, p.receive_every_30_minutes, p.play_sounds);
  };
  EXPECT_EQ(fields(LoadPreferences(store).value()), fields(preferences));
  Settings settings = LoadSettings(store).value();
  EXPECT_EQ(std::tie(settings.receive_at_startup, settings.receive_every_30_minutes,
                     settings.play_sounds, settings.received_counter),
            std::tuple(true, true, false, 12));
  settings.received_counter = 17;
  // Saved without a counter, the preferences keep the stored one; empty texts are stored.
  ASSERT_TRUE(SaveCounters(store, settings) && SavePreferences(store, {}));
  EXPECT_EQ(LoadSettings(store)->received_counter, 17);
  EXPECT_EQ(store.ReadText(kOptionsSection, "ComentarioUsuario", "absent"), "");
  // An option stored as text is no number: its default applies.
  ASSERT_TRUE(store.WriteText(kOptionsSection, "ReproSonidos", "0"));
  EXPECT_TRUE(LoadSettings(store)->play_sounds);
}

TEST(Settings, ProfilesAndThePasswordList) {
  const Installation installation;
  SettingsStore store;
  // What the profiles dialog's OK stores: the reserved copy, then the profile itself.
  const auto save = [&store](std::string name, std::string password, std::string comment = "") {
    const PasswordProfile profile{name, password, comment, "", "", ""};
    ASSERT_TRUE(WriteProfile(store, kReservedProfileName, profile));
    ASSERT_TRUE(WriteProfile(store, profile.name, profile));
  };
  const std::string listed_last = "V" + std::string(48, 'x');  // 49 characters
  save("carla", "misma clave");
  save("ana", "primera");
  save("ANA", "misma clave", "uno");  // the same profile, renamed
  save("Bruno", "");                  // no password, no entry
  save(listed_last, "ocho car");
  save("W" + std::string(49, 'x'), "ocho car");  // 50 characters end the list
  save("Zulu", "ocho car");
  save("SELECCION", "reservada");  // the reserved key, in any case
  EXPECT_EQ(EnumerateProfiles(store),
            (std::vector<std::string>{"ana", "Bruno", "carla", listed_last}));
  EXPECT_EQ(ReadProfile(store, "Ana"), (PasswordProfile{"ANA", "misma clave", "uno", "", "", ""}));
  PasswordList list;
  ASSERT_TRUE(list.LoadPasswordList(store) && list.LoadPasswordList(store));
  std::string entries;
  for (const PasswordListEntry& entry : list.entries())
    entries += entry.profile_name + ":" + entry.password + ":" + entry.fingerprint + " ";
  EXPECT_EQ(entries, "ana:misma clave:E2E252D7 carla:misma clave:E2E252D7 " + listed_last +
                         ":ocho car:" + Crc32Hex("ocho car") + " ");
  EXPECT_EQ(list.FindProfileByFingerprint("E2E252D7"), 0);   // the first of two
  EXPECT_EQ(list.FindProfileByFingerprint("e2e252d7"), -1);  // compared exactly
}

// Every read and write of the program's settings. What cannot be read gives no value (never a
// default); what fails leaves the file's bytes as they were and tells which file and why.
void ExpectUse(SettingsStore& store, bool readable, bool writable, const char* reason) {
  const auto bytes = [&store] {
    const fs::path& file = store.database().path();
    return fs::is_directory(file) ? "a folder" : Installation::Bytes(file);
  };
  const std::string before = bytes();
  const auto settings = LoadSettings(store);
  EXPECT_EQ(settings ? settings->server_name + std::to_string(settings->first_run) : "-",
            readable ? std::string(kDefaultServerAddress) + "1" : "-");
  EXPECT_EQ(std::tuple(LoadPreferences(store).has_value(), EnumerateProfiles(store).has_value(),
                       ReadProfile(store, "Amigo").has_value()),
            std::tuple(readable, readable, readable));
  EXPECT_EQ(std::tuple(SavePreferences(store, {}, 3), WriteProfile(store, "Otro", {}),
                       DeleteProfile(store, "Amigo")),
            std::tuple(writable, writable, writable));
  if (reason == nullptr)
    return;
  EXPECT_EQ(bytes(), before);
  EXPECT_THAT(AnsiToUtf8(store.DescribeProblem()),
              ::testing::AllOf(::testing::StartsWith(store.database().path().string() + ": "),
                               ::testing::HasSubstr(reason)));
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
  // The last page is far from the pages a look-up of the options reads: found all the same.
  const auto damage_last_page = [&] {
    sql("CREATE TABLE pad(x); INSERT INTO pad VALUES(zeroblob(50000))")();
    std::string bytes = Installation::Bytes(file);
    std::fill(bytes.end() - 4096, bytes.end(), '\xA5');
    return put(bytes)();
  };
  struct Case {
    const char* name;
    std::function<Hold()> spoil;
    const char* reason;  // nullptr: no trouble at all
    bool passes;         // the store works again once the trouble is over
  } const cases[] = {
      {"absent values", [] { return Hold(); }, nullptr, true},
      {"empty file", put(""), nullptr, true},
      {"locked by another program", sql("BEGIN EXCLUSIVE"), "ocupado", true},
      {"no database", put(std::string(5000, '\xEE')), "dañado", false},
      {"damaged header", put("SQLite format 3" + std::string(5000, '\xEE')), "dañado", false},
      {"damaged page", damage_last_page, "dañado", false},
      {"newer version", sql("PRAGMA user_version = 2"), "más reciente", false},
      // Said as for a file that may not be used: not quite what happened.
      {"folder", [&file] { return fs::remove(file), fs::create_directory(file), Hold(); },
       "No hay permiso", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file);
    ASSERT_TRUE(SettingsDatabase(file).WriteText("PerfilPass\\Amigo", "Password", "clave"));
    Hold hold = c.spoil();
    SettingsStore store(file, std::chrono::milliseconds(100));
    ExpectUse(store, c.reason == nullptr, c.reason == nullptr, c.reason);
    hold.reset();
    EXPECT_EQ(LoadSettings(store).has_value(), c.passes);
  }
}

TEST(Settings, AReadOnlyDiskIsReadButNotWritten) {
  const testing::ScratchMount disk;
  if (!disk.ok())
    GTEST_SKIP() << disk.SkipReason();
  ASSERT_TRUE(SettingsDatabase(disk.path() / "s.sqlite3").WriteText("PerfilPass\\Amigo", "", ""));
  ASSERT_TRUE(disk.MakeReadOnly());
  SettingsStore store(disk.path() / "s.sqlite3");
  ExpectUse(store, true, false, "sólo lectura");
}

}  // namespace
}  // namespace velkorant
