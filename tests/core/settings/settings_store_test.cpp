#include "settings/settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/ansi_text.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

// Every store here is the user's default one, inside a temporary XDG_CONFIG_HOME.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkorant-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    database_ = dir_ / "KRWTN_Software" / "VLKRNTS" / "settings.sqlite3";
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }

  fs::path dir_;
  fs::path database_;
};

TEST_F(SettingsStoreTest, FreshStoreGivesEveryDefault) {
  SettingsStore store;
  EXPECT_EQ(store.database().path(), database_);

  const Settings settings = LoadSettings(store).value();
  EXPECT_EQ(settings.user_name, "");
  EXPECT_EQ(settings.server_name, kDefaultServerAddress);
  EXPECT_FALSE(settings.receive_at_startup);
  EXPECT_FALSE(settings.receive_every_30_minutes);
  EXPECT_TRUE(settings.play_sounds);
  EXPECT_EQ(settings.received_counter, 0);
  EXPECT_EQ(settings.first_run, 1);

  const Preferences preferences = LoadPreferences(store).value();
  EXPECT_EQ(preferences.user_name, "");
  EXPECT_EQ(preferences.user_comment, "");
  EXPECT_EQ(preferences.server_name, kDefaultServerAddress);
  EXPECT_EQ(preferences.server_description, "");
  EXPECT_EQ(preferences.receive_at_startup, 0);
  EXPECT_EQ(preferences.receive_every_30_minutes, 0);
  EXPECT_EQ(preferences.play_sounds, 1);

  EXPECT_FALSE(fs::exists(database_));  // loading wrote nothing
  EXPECT_TRUE(kDefaultServerAddress.ends_with('/'));
}

TEST_F(SettingsStoreTest, CountersAreStoredAsIntegers) {
  {
    SettingsStore store;
    Settings settings = LoadSettings(store).value();
    settings.first_run = 0;
    ASSERT_TRUE(SaveCounters(store, settings));
  }
  SettingsStore store;
  EXPECT_EQ(store.database().ReadInt("Opciones", "EjecPrimVez"), 0);
  EXPECT_EQ(store.database().ReadInt("Opciones", "MsjsRecibidos"), 0);
  // Only the two counters were written.
  EXPECT_EQ(store.database().ReadText("Opciones", "NombreServidor"), std::nullopt);

  Settings settings = LoadSettings(store).value();
  EXPECT_EQ(settings.first_run, 0);
  settings.received_counter = 17;
  ASSERT_TRUE(SaveCounters(store, settings));
  EXPECT_EQ(LoadSettings(store).value().received_counter, 17);
}

TEST_F(SettingsStoreTest, OptionsCountAsOnWhenNotZero) {
  SettingsStore store;
  ASSERT_TRUE(store.WriteInt("Opciones", "AutoMsjInicio", 7));
  ASSERT_TRUE(store.WriteInt("Opciones", "AutoMsjTiempo", -1));
  ASSERT_TRUE(store.WriteInt("Opciones", "ReproSonidos", 0));
  Settings settings = LoadSettings(store).value();
  EXPECT_TRUE(settings.receive_at_startup);
  EXPECT_TRUE(settings.receive_every_30_minutes);
  EXPECT_FALSE(settings.play_sounds);
  // The preferences keep the stored integers.
  EXPECT_EQ(LoadPreferences(store).value().receive_at_startup, 7);

  // An option stored as text is no integer: the default applies.
  ASSERT_TRUE(store.WriteText("Opciones", "ReproSonidos", "0"));
  EXPECT_TRUE(LoadSettings(store).value().play_sounds);
}

TEST_F(SettingsStoreTest, PreferencesWriteAllSevenValues) {
  SettingsStore store;
  Preferences preferences;
  preferences.user_name = "Hannah_desert";
  preferences.server_name = "mensajes.example.org/buzon/";
  preferences.receive_at_startup = 1;
  preferences.play_sounds = 0;
  ASSERT_TRUE(SavePreferences(store, preferences));

  // Empty texts are stored as empty values, not left out.
  EXPECT_EQ(store.ReadText("Opciones", "ComentarioUsuario", "absent"), "");
  EXPECT_EQ(store.ReadText("Opciones", "DescripcionServidor", "absent"), "");
  EXPECT_EQ(store.ReadInt("Opciones", "AutoMsjTiempo", 9), 0);

  const Preferences loaded = LoadPreferences(store).value();
  EXPECT_EQ(loaded.user_name, "Hannah_desert");
  EXPECT_EQ(loaded.server_name, "mensajes.example.org/buzon/");
  EXPECT_EQ(loaded.receive_at_startup, 1);
  EXPECT_EQ(loaded.play_sounds, 0);

  const Settings settings = LoadSettings(store).value();
  EXPECT_EQ(settings.user_name, "Hannah_desert");
  EXPECT_TRUE(settings.receive_at_startup);
  EXPECT_FALSE(settings.play_sounds);
}

TEST_F(SettingsStoreTest, DeletingTheUserKeepsTheCounter) {
  SettingsStore store;
  Preferences preferences;
  preferences.user_name = "Hannah_desert";
  preferences.user_comment = "yo";
  ASSERT_TRUE(SavePreferences(store, preferences));
  Settings settings = LoadSettings(store).value();
  settings.received_counter = 12;
  ASSERT_TRUE(SaveCounters(store, settings));

  preferences.user_name.clear();
  ASSERT_TRUE(SavePreferences(store, preferences));
  EXPECT_EQ(store.ReadText("Opciones", "NombreUsuario", "absent"), "");
  EXPECT_EQ(LoadSettings(store).value().received_counter, 12);
  EXPECT_EQ(LoadPreferences(store).value().user_comment, "yo");
}

// A store that cannot be read is never taken for a fresh one: no defaults, no writes over it.
TEST_F(SettingsStoreTest, CorruptDatabaseIsReportedAndStaysAsItWas) {
  fs::create_directories(database_.parent_path());
  const std::string garbage = "no es una base de datos\r\n\x01\x02\x03" + std::string(3000, '\xEE');
  std::ofstream(database_, std::ios::binary) << garbage;

  SettingsStore store;
  EXPECT_FALSE(LoadSettings(store).has_value());
  EXPECT_FALSE(LoadPreferences(store).has_value());
  EXPECT_EQ(store.database().status(), SettingsDatabaseStatus::kCorrupt);
  EXPECT_THAT(AnsiToUtf8(store.DescribeProblem()), ::testing::HasSubstr("dañado"));

  Preferences preferences;
  preferences.user_name = "Hannah_desert";
  EXPECT_FALSE(SavePreferences(store, preferences));
  EXPECT_FALSE(SaveCounters(store, Settings{}));

  std::ifstream file(database_, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), garbage);
}

}  // namespace
}  // namespace velkorant
