// Password profiles against a real Secret Service (gnome-keyring on a private session bus).
// What the keyring holds is read back with another client, secret-tool; what the database holds,
// with sqlite3's own dump.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "support/private_keyring.h"

namespace velkorant::testing {
namespace {

class KeyringTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(keyring_.ready()) << "gnome-keyring-daemon did not start"; }

  // Every item of this program: "PROFILE|label|secret", sorted.
  static std::vector<std::string> Items() {
    std::istringstream lines(Output(
        "stdbuf -o0 secret-tool search --all --unlock application org.velkorant.Velkorant 2>&1"));
    std::vector<std::string> items;
    std::map<std::string, std::string> item;
    const auto flush = [&] {
      if (!item.empty())
        items.push_back(item["attribute.profile"] + "|" + item["label"] + "|" + item["secret"]);
      item.clear();
    };
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("["))
        flush();
      else if (const auto eq = line.find(" = "); eq != std::string::npos)
        item[line.substr(0, eq)] = line.substr(eq + 3);
    }
    flush();
    std::sort(items.begin(), items.end());
    return items;
  }
  std::string Dump() const { return Output("sqlite3 " + keyring_.database().string() + " .dump"); }
  // Whether a dump holds the bytes as text or as a blob's hexadecimal digits.
  static bool Holds(std::string dump, std::string_view bytes) {
    std::string hex;
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 15];
    }
    std::transform(dump.begin(), dump.end(), dump.begin(), ::tolower);
    return dump.find(hex) != std::string::npos || dump.find(bytes) != std::string::npos;
  }

  PrivateKeyring keyring_;
};

// What the profiles dialog and velkorant-cli do, each followed by the whole of the keyring;
// the database never holds a password, and each profile reads back with the keyring's.
TEST_F(KeyringTest, ProfilesKeepTheirPasswordsInTheKeyring) {
  const PasswordProfile amigos{"Amigos", "clave de amigos", "nota", "", "", ""};
  PasswordProfile familia = amigos;
  familia.name = "Familia";
  const std::string ano = Utf8ToAnsi("Año"), contrasena = Utf8ToAnsi("contraseña ñ");
  struct Case {
    const char* what;
    std::function<bool(SettingsStore&)> act;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"saved with the reserved copy",
       [&](SettingsStore& s) {
         return WriteProfile(s, kReservedProfileName, amigos) && WriteProfile(s, "Amigos", amigos);
       },
       {"AMIGOS|Velkorant: perfil Amigos|clave de amigos",
        "SELECCION|Velkorant: perfil Seleccion|clave de amigos"}},
      {"renamed: saved under another name, the first one stays",
       [&](SettingsStore& s) {
         return WriteProfile(s, kReservedProfileName, familia) &&
                WriteProfile(s, "Familia", familia);
       },
       {"AMIGOS|Velkorant: perfil Amigos|clave de amigos",
        "FAMILIA|Velkorant: perfil Familia|clave de amigos",
        "SELECCION|Velkorant: perfil Seleccion|clave de amigos"}},
      {"changed under another letter case: still one item",
       [&](SettingsStore& s) {
         return WriteProfile(s, "AMIGOS", {"AMIGOS", "clave cambiada", "", "", "", ""});
       },
       {"AMIGOS|Velkorant: perfil AMIGOS|clave cambiada",
        "FAMILIA|Velkorant: perfil Familia|clave de amigos",
        "SELECCION|Velkorant: perfil Seleccion|clave de amigos"}},
      {"deleted as the dialog does: the copy emptied, nothing left behind",
       [&](SettingsStore& s) {
         return DeleteProfile(s, "familia") && WriteProfile(s, kReservedProfileName, {});
       },
       {"AMIGOS|Velkorant: perfil AMIGOS|clave cambiada"}},
      {"a name and a password beyond ASCII",
       [&](SettingsStore& s) {
         return WriteProfile(s, ano, {ano, contrasena, "", "", "", ""});
       },
       {"AMIGOS|Velkorant: perfil AMIGOS|clave cambiada",
        "AÑO|Velkorant: perfil Año|contraseña ñ"}},
      {"another settings database of the user keeps its own",
       [&](SettingsStore& s) {
         SettingsStore other(keyring_.dir() / "otra.sqlite3");
         return WriteProfile(other, "Amigos", {"Amigos", "clave de la otra", "", "", "", ""}) &&
                ReadProfile(s, "Amigos").value().password == "clave cambiada" &&
                DeleteProfile(other, "Amigos");
       },
       {"AMIGOS|Velkorant: perfil AMIGOS|clave cambiada",
        "AÑO|Velkorant: perfil Año|contraseña ñ"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsStore store;
    ASSERT_TRUE(c.act(store)) << store.DescribeProblem();
    EXPECT_EQ(Items(), c.items);
    const std::string dump = Dump();
    ASSERT_TRUE(Holds(dump, "Amigos"));  // the dump shows what the database holds
    for (const std::string& secret : {amigos.password, std::string("clave cambiada"), contrasena})
      EXPECT_FALSE(Holds(dump, secret)) << secret;
    SettingsStore fresh;
    for (const std::string& item : c.items) {
      const std::string name = Utf8ToAnsi(item.substr(0, item.find('|')));
      EXPECT_EQ(ReadProfile(fresh, name).value().password,
                Utf8ToAnsi(item.substr(item.rfind('|') + 1)));
    }
  }
}

// The move of the passwords an earlier version left in clear, killed again and again at random
// points: after every kill each password is still there, in one place or the other; once a run
// completes, none is left in the database, so each comes from the keyring.
TEST_F(KeyringTest, ClearPasswordsMoveIntoTheKeyringEvenWhenKilledMidway) {
  std::map<std::string, std::string> passwords = {{"Seleccion", "clave de la copia"},
                                                  {"Club\\Sub", "clave anidada"},
                                                  {std::string(55, 'L'), "clave de nombre largo"}};
  for (int i = 0; i < 150; ++i)
    passwords["Perfil " + std::to_string(i)] = "clave numero " + std::to_string(i);
  {
    SettingsStore store;
    for (const auto& [name, password] : passwords)
      ASSERT_TRUE(store.WriteValues(ProfileSection(name),
                                    {{"PerfilNombre", name}, {"Password", password}}));
  }
  const auto in_clear = [&] {
    const std::string dump = Dump();
    return std::count_if(passwords.begin(), passwords.end(),
                         [&](const auto& p) { return Holds(dump, p.second); });
  };
  int midway = 0;
  bool completed = false;
  for (int delay_ms = 5; !completed; delay_ms += delay_ms / 2) {
    const pid_t cli = PrivateKeyring::Spawn(
        {VELKORANT_BINARY_DIR "/src/cli/velkorant-cli", "profile", "list"}, -1, -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    int status = 0;
    if (::waitpid(cli, &status, WNOHANG) == 0) {
      ::kill(cli, SIGKILL);
      ::waitpid(cli, &status, 0);
    }
    completed = WIFEXITED(status);
    const auto left = in_clear();
    midway += left > 0 && left < static_cast<long>(passwords.size());
    SettingsStore store;
    for (const auto& [name, password] : passwords)
      ASSERT_EQ(ReadProfile(store, name).value().password, password) << name << " " << delay_ms;
  }
  EXPECT_GT(midway, 0) << "no kill landed during the move";
  EXPECT_EQ(in_clear(), 0);
}

// A keyring that stays locked (its prompt dismissed) or has gone away: the passwords are not
// available, and no profile is taken for empty, deleted or new. Without a keyring a new profile
// is saved in the database, as always.
TEST_F(KeyringTest, PasswordsOfALockedOrMissingKeyringAreNotAvailable) {
  {
    SettingsStore store;
    ASSERT_TRUE(WriteProfile(store, "Amigos", {"Amigos", "clave de amigos", "", "", "", ""}));
  }
  struct Case {
    const char* what;
    std::function<bool(SettingsStore&)> act;
    bool works_without_keyring;
  };
  const Case cases[] = {
      {"the password list", [](SettingsStore& s) { return PasswordList().LoadPasswordList(s); },
       false},
      {"reading the profile", [](SettingsStore& s) { return ReadProfile(s, "Amigos").has_value(); },
       false},
      {"deleting the profile", [](SettingsStore& s) { return DeleteProfile(s, "Amigos"); }, false},
      {"saving another one",
       [](SettingsStore& s) {
         return WriteProfile(s, "Otro", {"Otro", "otra clave", "", "", "", ""}) &&
                DeleteProfile(s, "Otro");
       },
       true},
  };
  for (const auto& [state, says] :
       {std::pair{"locked", "sigue bloqueado"}, {"missing", "no responde ning"}}) {
    SCOPED_TRACE(state);
    if (std::string_view(state) == "locked")
      ASSERT_TRUE(keyring_.Lock());
    else
      keyring_.StopKeyring();
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      SettingsStore store;
      const bool works = std::string_view(state) == "missing" && c.works_without_keyring;
      EXPECT_EQ(c.act(store), works);
      if (!works) {
        EXPECT_THAT(store.DescribeProblem(), ::testing::HasSubstr(says));
      }
      EXPECT_EQ(EnumerateProfiles(store), std::vector<std::string>{"Amigos"});
    }
  }
}

}  // namespace
}  // namespace velkorant::testing
