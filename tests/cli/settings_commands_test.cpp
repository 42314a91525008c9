#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "support/cli_runner.h"

namespace velkorant::cli {
namespace {

namespace fs = std::filesystem;

using Result = testing::CliResult;

class SettingsCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkorant-cli-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }

  std::string PasswordFile(const std::string& content) {
    const fs::path path = dir_ / ("password" + std::to_string(++files_));
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  fs::path DatabasePath() const {
    return dir_ / "config" / "KRWTN_Software" / "VLKRNTS" / "settings.sqlite3";
  }

  static Result Run(const std::vector<std::string>& args) { return testing::RunCliCommand(args); }

  fs::path dir_;
  int files_ = 0;
};

TEST_F(SettingsCommandsTest, AddedProfilesAreWhatTheProgramReads) {
  const Result added =
      Run({"profile", "add", "Año", "--password-file", PasswordFile("contraseña\n"), "--comment",
           "primera línea", "--comment=segunda"});
  ASSERT_EQ(added.status, kExitOk) << added.err;
  ASSERT_EQ(Run({"profile", "add", "amigo", "--password-file", PasswordFile("12345678")}).status,
            kExitOk);

  SettingsStore store;
  PasswordProfile expected;
  expected.name = "A\xF1o";
  expected.password =
      "contrase\xF1"
      "a";
  expected.comment1 = "primera l\xEDnea";
  expected.comment2 = "segunda";
  EXPECT_EQ(ReadProfile(store, "A\xF1o").value(), expected);
  PasswordList list;
  list.LoadPasswordList(store);
  ASSERT_EQ(list.entries().size(), 2u);
  EXPECT_EQ(list.entries()[1].password,
            "contrase\xF1"
            "a");
  // The reserved copy holds the profile saved last.
  EXPECT_EQ(ReadProfile(store, "Seleccion").value().name, "amigo");
  EXPECT_EQ(ReadProfile(store, "Seleccion").value().password, "12345678");

  EXPECT_EQ(Run({"profile", "list"}).out, "amigo\nAño\n");
}

TEST_F(SettingsCommandsTest, AddRefusesWhatTheDialogRefuses) {
  const std::string short_password = PasswordFile("1234567\n");
  const Result no_name = Run({"profile", "add", "", "--password-file", short_password});
  EXPECT_EQ(no_name.status, kExitFailure);
  EXPECT_NE(no_name.err.find("Introduce un nombre de perfil"), std::string::npos);

  const Result short_one = Run({"profile", "add", "Amigo", "--password-file", short_password});
  EXPECT_EQ(short_one.status, kExitFailure);
  EXPECT_NE(short_one.err.find("Introduce una contraseña de al menos 8 caracteres"),
            std::string::npos);

  // Longer than the dialog's fields: a long name would even hide other profiles.
  const std::string good = PasswordFile("12345678");
  EXPECT_EQ(Run({"profile", "add", std::string(41, 'n'), "--password-file", good}).status,
            kExitFailure);
  EXPECT_EQ(Run({"profile", "add", "Amigo", "--password-file", PasswordFile(std::string(41, 'p'))})
                .status,
            kExitFailure);
  EXPECT_EQ(
      Run({"profile", "add", "Amigo", "--password-file", good, "--comment", std::string(101, 'c')})
          .status,
      kExitFailure);
  EXPECT_FALSE(fs::exists(DatabasePath()));  // nothing was written

  // Eight characters (of Windows-1252, so "ñ" counts once) are enough; so are 40 and 100.
  EXPECT_EQ(Run({"profile", "add", "Amigo", "--password-file", PasswordFile("ññññññññ")}).status,
            kExitOk);
  EXPECT_EQ(Run({"profile", "add", std::string(40, 'n'), "--password-file",
                 PasswordFile(std::string(40, 'p')), "--comment", std::string(100, 'c')})
                .status,
            kExitOk);
}

TEST_F(SettingsCommandsTest, UsageErrors) {
  const std::string good = PasswordFile("12345678");
  EXPECT_EQ(Run({"profile"}).status, kExitUsage);
  EXPECT_EQ(Run({"profile", "rename"}).status, kExitUsage);
  EXPECT_EQ(Run({"profile", "add", "Amigo"}).status, kExitUsage);
  EXPECT_EQ(Run({"profile", "add", "Amigo", "--password", "secreto123"}).status, kExitUsage);
  EXPECT_EQ(Run({"profile", "add", "--password-file", good}).status, kExitUsage);
  EXPECT_EQ(Run({"profile", "add", "Amigo", "--password-file", good, "--comment", "1", "--comment",
                 "2", "--comment", "3", "--comment", "4", "--comment", "5"})
                .status,
            kExitUsage);
  EXPECT_EQ(Run({"profile", "list", "extra"}).status, kExitUsage);
  EXPECT_EQ(Run({"profile", "remove"}).status, kExitUsage);
  EXPECT_EQ(Run({"settings", "extra"}).status, kExitUsage);
  EXPECT_NE(Run({"profile", "add", "Amigo", "--password-file", (dir_ / "absent").string()}).status,
            kExitOk);

  const Result help = Run({"--help"});
  EXPECT_NE(help.out.find("profile add NAME"), std::string::npos);
  EXPECT_NE(help.out.find("settings"), std::string::npos);
}

TEST_F(SettingsCommandsTest, RemoveDeletesAndEmptiesTheReservedCopy) {
  const std::string password = PasswordFile("12345678");
  ASSERT_EQ(Run({"profile", "add", "Amigo", "--password-file", password}).status, kExitOk);
  ASSERT_EQ(Run({"profile", "add", "Beto", "--password-file", password}).status, kExitOk);

  const Result unknown = Run({"profile", "remove", "Nadie"});
  EXPECT_EQ(unknown.status, kExitFailure);
  EXPECT_NE(unknown.err.find("Nadie"), std::string::npos);
  EXPECT_EQ(Run({"profile", "remove", "Seleccion"}).status, kExitFailure);
  {
    SettingsStore store;
    EXPECT_EQ(ReadProfile(store, "Seleccion").value().name,
              "Beto");  // untouched by failed removals
  }

  EXPECT_EQ(Run({"profile", "remove", "amigo"}).status, kExitOk);
  EXPECT_EQ(Run({"profile", "list"}).out, "Beto\n");
  SettingsStore store;
  EXPECT_EQ(ReadProfile(store, "Seleccion").value(), PasswordProfile{});
  EXPECT_TRUE(store.SectionExists("PerfilPass\\Seleccion"));  // six empty values
}

TEST_F(SettingsCommandsTest, RemoveOfAProfileWithNestedOnesFails) {
  const std::string password = PasswordFile("12345678");
  ASSERT_EQ(Run({"profile", "add", "Trabajo", "--password-file", password}).status, kExitOk);
  ASSERT_EQ(Run({"profile", "add", "Trabajo\\Ana", "--password-file", password}).status, kExitOk);
  EXPECT_EQ(Run({"profile", "list"}).out, "Trabajo\n");

  const Result kept = Run({"profile", "remove", "Trabajo"});
  EXPECT_EQ(kept.status, kExitFailure);
  EXPECT_NE(kept.err.find("not removed"), std::string::npos);
  EXPECT_EQ(Run({"profile", "list"}).out, "Trabajo\n");

  EXPECT_EQ(Run({"profile", "remove", "Trabajo\\ana"}).status, kExitOk);
  EXPECT_EQ(Run({"profile", "remove", "Trabajo\\Ana"}).status, kExitFailure);
  EXPECT_EQ(Run({"profile", "remove", "Trabajo"}).status, kExitOk);
  EXPECT_EQ(Run({"profile", "list"}).out, "");
}

TEST_F(SettingsCommandsTest, SettingsPrintsWhatTheProgramLoads) {
  EXPECT_EQ(Run({"settings"}).out,
            "NombreUsuario: \nNombreServidor: localhost:8443/velkorant/\nAutoMsjInicio: 0\n"
            "AutoMsjTiempo: 0\nReproSonidos: 1\nMsjsRecibidos: 0\nEjecPrimVez: 1\n");
  {
    SettingsStore store;
    Preferences preferences;
    preferences.user_name =
        "Pe\xF1"
        "a";
    preferences.server_name = "buzon.example.org/v/";
    preferences.receive_every_30_minutes = 1;
    preferences.play_sounds = 0;
    ASSERT_TRUE(SavePreferences(store, preferences));
    Settings settings = LoadSettings(store).value();
    settings.received_counter = 23;
    settings.first_run = 0;
    ASSERT_TRUE(SaveCounters(store, settings));
  }
  const Result shown = Run({"settings"});
  EXPECT_EQ(shown.status, kExitOk);
  EXPECT_EQ(shown.out,
            "NombreUsuario: Peña\nNombreServidor: buzon.example.org/v/\nAutoMsjInicio: 0\n"
            "AutoMsjTiempo: 1\nReproSonidos: 0\nMsjsRecibidos: 23\nEjecPrimVez: 0\n");
}

TEST_F(SettingsCommandsTest, DamagedDatabaseIsReportedAndKept) {
  fs::create_directories(DatabasePath().parent_path());
  const std::string garbage(4096, '\x5A');
  std::ofstream(DatabasePath(), std::ios::binary) << garbage;

  const Result shown = Run({"settings"});
  EXPECT_EQ(shown.status, kExitFailure);
  EXPECT_EQ(shown.out, "") << "no defaults shown as if they were the settings";
  EXPECT_NE(shown.err.find("settings.sqlite3"), std::string::npos);

  EXPECT_EQ(Run({"profile", "list"}).status, kExitFailure);
  EXPECT_EQ(Run({"profile", "remove", "Amigo"}).status, kExitFailure);
  const Result added =
      Run({"profile", "add", "Amigo", "--password-file", PasswordFile("12345678")});
  EXPECT_EQ(added.status, kExitFailure);
  EXPECT_NE(added.err.find("not saved"), std::string::npos);

  std::ifstream file(DatabasePath(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), garbage);
}

}  // namespace
}  // namespace velkorant::cli
