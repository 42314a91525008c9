#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "support/cli_runner.h"

namespace velkorant::cli {
namespace {

namespace fs = std::filesystem;

// The checks of send that come before any request: nothing may be stored or sent when they fail.
class SendChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkorant-cli-send-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    old_dir_ = fs::current_path();
    fs::current_path(dir_);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  }
  void TearDown() override {
    fs::current_path(old_dir_);
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }

  static testing::CliResult Send(const std::string& to, const std::string& subject,
                                 const std::string& body) {
    return testing::RunCliCommand({"send", "--to", to, "--subject", subject, "--profile", "Amigos"},
                                  body);
  }

  fs::path dir_;
  fs::path old_dir_;
};

TEST_F(SendChecksTest, RefusesInTheComposeOrder) {
  // No user name yet: the first precondition.
  auto result = Send("John Sala", "Hola", "texto");
  EXPECT_EQ(result.status, kExitFailure);
  EXPECT_EQ(result.err.rfind("Falta tu nombre de usuario: ", 0), 0u) << result.err;

  {
    SettingsStore store;
    Preferences preferences = LoadPreferences(store).value();
    preferences.user_name = "Hannah_desert";
    preferences.server_name = "127.0.0.1:9/velkorant/";
    ASSERT_TRUE(SavePreferences(store, preferences));
  }
  result = Send("John Sala", "Hola", "texto");
  EXPECT_EQ(result.err.rfind("No existen perfiles de contraseñas: ", 0), 0u) << result.err;

  {
    SettingsStore store;
    PasswordProfile profile;
    profile.name = "Amigos";
    profile.password = "clave compartida";
    ASSERT_TRUE(WriteProfile(store, "Amigos", profile));
  }
  result = Send("Hannah_desert", "Hola", "texto");
  EXPECT_EQ(result.err.rfind("Auto-mensaje: ", 0), 0u) << result.err;
  result = Send("John Sala", "Hola", "");
  EXPECT_EQ(result.err.rfind("Falta el texto del mensaje: ", 0), 0u) << result.err;
  result = Send("John Sala", std::string(101, 'a'), "texto");
  EXPECT_EQ(result.err.rfind("Texto demasiado largo: ", 0), 0u) << result.err;
  result = Send("John Sala", "Hola", std::string(801, 'a'));
  EXPECT_EQ(result.err.rfind("Texto demasiado largo: ", 0), 0u) << result.err;
  // 400 line breaks are 800 characters: the body's limit counts each as two.
  std::string lines;
  for (int i = 0; i < 400; ++i)
    lines += "\n";
  result = Send("John Sala", "Hola", lines + "x");
  EXPECT_EQ(result.err.rfind("Texto demasiado largo: ", 0), 0u) << result.err;

  // A line break in a single-line field would cut the field at the receiving end.
  result = Send("John Sala", "linea1\nlinea2", "texto");
  EXPECT_EQ(result.status, kExitUsage);
  EXPECT_NE(result.err.find("single lines"), std::string::npos);

  EXPECT_FALSE(fs::exists(dir_ / "mensajes_enviados.ini")) << "nothing refused is stored";
}

}  // namespace
}  // namespace velkorant::cli
