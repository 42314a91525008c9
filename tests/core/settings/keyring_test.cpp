// SPDX-License-Identifier: GPL-3.0-or-later
// Password profiles against a real Secret Service (gnome-keyring on a private session bus).
// What the keyring holds is read back with another client, secret-tool; what the database holds,
// with sqlite3's own dump.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <tuple>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "support/cli_runner.h"
#include "support/installation.h"
#include "support/private_keyring.h"
#include "transfer/backup_archive.h"

namespace velkorant::testing {
namespace {

// Every item of this program as "NAME:secret" lines, sorted, NAME from its label.
std::string Items() {
  return Output(
      "secret-tool search --all --unlock application org.velkorant.Velkorant 2>&1 | "
      "sed -n 's/^label = Velkorant: perfil //p; s/^secret = //p' | paste -d: - - | LC_ALL=C sort");
}

// Whether the database's dump (which shows text values as blobs) holds these bytes.
bool InDump(const std::string& dump, std::string_view bytes) {
  std::string hex;
  for (const char c : bytes)
    hex += {"0123456789abcdef"[static_cast<unsigned char>(c) >> 4], "0123456789abcdef"[c & 15]};
  return dump.find(hex) != std::string::npos;
}

std::string Sqlite(const std::string& command) {
  return Output("sqlite3 \"$XDG_CONFIG_HOME/KRWTN_Software/VLKRNTS/settings.sqlite3\" " + command);
}

class KeyringTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(keyring_.keyring, 0) << "gnome-keyring-daemon did not start"; }
  // A file of the test's own folder, holding `text`: its path.
  std::string File(const char* name, const std::string& text) const {
    std::ofstream(keyring_.dir / name) << text;
    return (keyring_.dir / name).string();
  }
  PrivateKeyring keyring_;
  SettingsStore store_;  // the user's, now that the environment points at the private folders
};

// velkorant-cli's profile commands (the profiles dialog's OK and "Eliminar perfil"), each
// followed by the whole of the keyring; the database holds no password, and each profile reads
// back the keyring's. Another settings database of the same user keeps items of its own.
TEST_F(KeyringTest, ProfilesKeepTheirPasswordsInTheKeyring) {
  // The profile command, the profile, its password; the keyring's items after it.
  const std::tuple<const char*, const char*, std::string, std::string> cases[] = {
      {"add", "Amigos", "clave de amigos", "Amigos:clave de amigos\nSeleccion:clave de amigos\n"},
      {"add", "Familia", "clave de amigos",  // renamed: the first one stays
       "Amigos:clave de amigos\nFamilia:clave de amigos\nSeleccion:clave de amigos\n"},
      {"add", "AMIGOS", "clave cambiada",  // another letter case, the same profile
       "AMIGOS:clave cambiada\nFamilia:clave de amigos\nSeleccion:clave cambiada\n"},
      {"remove", "familia", "", "AMIGOS:clave cambiada\n"},  // the copy emptied: no item left
      {"add", "Año", "contraseña ñ",
       "AMIGOS:clave cambiada\nAño:contraseña ñ\nSeleccion:contraseña ñ\n"}};
  for (const auto& [verb, name, password, items] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> args = {"profile", verb, name};
    if (!password.empty())
      args.insert(args.end(), {"--password-file", File("clave", password)});
    ASSERT_EQ(RunCliCommand(args).status, 0);
    SettingsStore other(keyring_.dir / "otra.sqlite3");
    ASSERT_TRUE(WriteProfile(other, name, {name, "clave de la otra"}) &&
                DeleteProfile(other, name));
    ASSERT_EQ(Items(), items);
    const std::string dump = Sqlite(".dump");
    ASSERT_TRUE(InDump(dump, "Amigos"));  // it shows what the database holds
    for (const char* secret : {"clave de amigos", "clave cambiada", "contrase"})
      EXPECT_FALSE(InDump(dump, Utf8ToAnsi(secret))) << secret;
    std::istringstream lines(items);
    for (std::string line; std::getline(lines, line);) {
      const auto colon = line.find(':');
      EXPECT_EQ(ReadProfile(store_, Utf8ToAnsi(line.substr(0, colon))).profile.value().password,
                Utf8ToAnsi(line.substr(colon + 1)));
    }
  }
  // A database that refuses the write leaves the keyring as it was, as the user is told.
  Sqlite("'PRAGMA user_version = 2'");
  SettingsStore reopened;
  EXPECT_FALSE(WriteProfile(reopened, "AMIGOS", {"AMIGOS", "clave nueva"}));
  EXPECT_EQ(Items(), std::get<3>(cases[4]));
}

// A password the keyring keeps leaves only where asked: in an export for Windows with the
// passwords, and sealed in a backup with a passphrase.
TEST_F(KeyringTest, KeyringPasswordsGoIntoExportsAndBackupsOnlyWhenAsked) {
  const std::string clave = File("clave", "clave de amigos"),
                    frase = File("frase", "frase de paso");
  ASSERT_EQ(RunCliCommand({"profile", "add", "Amigos", "--password-file", clave}).status, 0);
  const std::u16string secret = u"\"Password\"=\"clave de amigos\"";
  for (const bool asked : {false, true}) {
    std::vector<std::string> args = {"export-windows", (keyring_.dir / "export.reg").string()};
    if (asked)
      args.push_back("--with-passwords");
    ASSERT_EQ(RunCliCommand(args).status, 0);
    const std::string bytes = Installation::Bytes(args[1]);
    const std::u16string text(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_EQ(text.find(secret) != std::u16string::npos, asked);
  }
  const std::string archive = (keyring_.dir / "copia.tar").string();
  ASSERT_EQ(
      RunCliCommand({"backup", archive, "--with-passwords", "--passphrase-file", frase}).status, 0);
  const BackupOpen opened = OpenBackup(Installation::Bytes(archive), "frase de paso");
  ASSERT_TRUE(opened) << opened.error;
  ASSERT_EQ(opened.passwords.entries.size(), 2u);  // Amigos and the reserved copy
  EXPECT_EQ(opened.passwords.entries[0].password, "clave de amigos");
}

// The move of the passwords an earlier version left in clear, through velkorant-cli killed with
// SIGKILL later and later: after every kill each password is still there, in one place or the
// other; once a run completes, none is left in the database, so each comes from the keyring.
TEST_F(KeyringTest, ClearPasswordsMoveIntoTheKeyringEvenWhenKilledMidway) {
  std::map<std::string, std::string> passwords = {{"Seleccion", "clave de la copia"},
                                                  {"Club\\Sub", "clave anidada"},
                                                  {std::string(55, 'L'), "clave de nombre largo"}};
  for (int i = 0; i < 150; ++i)
    passwords["Perfil " + std::to_string(i)] = "clave numero " + std::to_string(i);
  for (const auto& [name, password] : passwords)
    ASSERT_TRUE(store_.WriteValues(ProfileSection(name), {{"Password", password}}));
  int midway = 0;
  for (int ms = 5; true; ms += ms / 2) {
    const std::string status = Output(
        "timeout -s KILL " + std::to_string(ms / 1000.0) +
        " " VELKORANT_BINARY_DIR "/src/cli/velkorant-cli profile list >/dev/null 2>&1; echo $?");
    const std::string dump = Sqlite(".dump");
    const auto left = std::count_if(passwords.begin(), passwords.end(),
                                    [&](const auto& p) { return InDump(dump, p.second); });
    midway += left > 0 && left < static_cast<long>(passwords.size());
    for (const auto& [name, password] : passwords)
      ASSERT_EQ(ReadProfile(store_, name).profile.value().password, password)
          << name << " at " << ms;
    if (status == "0\n") {
      EXPECT_EQ(left, 0);
      break;
    }
  }
  EXPECT_GT(midway, 0) << "no kill landed during the move";
}

// A keyring that stays locked (its prompt dismissed) or has gone away: the passwords are not
// available, and no profile is taken for empty, deleted or new. Without a keyring a new profile
// is saved in the database, as always.
TEST_F(KeyringTest, PasswordsOfALockedOrMissingKeyringAreNotAvailable) {
  ASSERT_TRUE(WriteProfile(store_, "Amigos", {"Amigos", "clave de amigos"}));
  const std::pair<const char*, ProfileOutcome (*)(SettingsStore&)> cases[] = {
      {"the password list", [](SettingsStore& s) { return PasswordList().LoadPasswordList(s); }},
      {"deleting", [](SettingsStore& s) { return DeleteProfile(s, "Amigos"); }},
      {"saving another", [](SettingsStore& s) {
         return WriteProfile(s, "Otro", {"Otro", "otra"});
       }}};
  for (const char* state : {"sigue bloqueado", "no responde"}) {
    state[0] == 's' ? keyring_.Lock() : keyring_.StopKeyring();
    for (const auto& [what, act] : cases) {
      SCOPED_TRACE(std::string(what) + ": " + state);
      SettingsStore store;
      // Without a keyring a new profile goes to the database, as always.
      const ProfileOutcome saved = act(store);
      EXPECT_EQ(saved.ok, state[0] == 'n' && what[0] == 's');
      EXPECT_THAT(store.DescribeProblem(saved), ::testing::HasSubstr(saved ? "" : state));
      EXPECT_EQ(EnumerateProfiles(store).value().size(), saved ? 2u : 1u);
      EXPECT_TRUE(!saved || DeleteProfile(store, "Otro"));
    }
  }
}

// A profile whose password the keyring lost (removed by another client) is never read as empty
// nor dropped: what needs the passwords refuses, naming it, until it is saved again; the
// profiles dialog still gets its name and comments to save it with.
TEST_F(KeyringTest, AProfileWhosePasswordTheKeyringLostIsNamed) {
  ASSERT_TRUE(WriteProfile(store_, "Amigos", {"Amigos", "clave de amigos", "comentario"}));
  ASSERT_TRUE(WriteProfile(store_, "Familia", {"Familia", "clave de familia"}));
  Output("secret-tool clear application org.velkorant.Velkorant profile AMIGOS");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"receive"},
           {"retry"},
           {"profile", "list"},
           {"send", "--to", "Ana", "--subject", "S", "--profile", "P"}}) {
    SCOPED_TRACE(args.front());
    const CliResult result = RunCliCommand(args, "texto");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, ::testing::HasSubstr("La contraseña del perfil Amigos no está en el "
                                                 "llavero; vuelve a escribirla"));
  }
  bool missing = false;
  EXPECT_EQ(ReadProfile(store_, "Amigos", &missing).profile,
            (PasswordProfile{"Amigos", "", "comentario"}));
  EXPECT_TRUE(missing);
  EXPECT_FALSE(ReadProfile(store_, "Amigos").profile);
  ASSERT_TRUE(WriteProfile(store_, "Amigos", {"Amigos", "clave nueva"}));
  EXPECT_EQ(RunCliCommand({"profile", "list"}).out, "Amigos\nFamilia\n");
}

// Passwords are found wherever the settings folder goes: moved, reached through a link,
// restored from a copy. An item made under the database's path, as before the installation
// identifier, is found too, and moved to the identifier so that it follows the folder as well.
TEST_F(KeyringTest, PasswordsFollowTheSettingsFolder) {
  namespace fs = std::filesystem;
  const fs::path folder = store_.database().path().parent_path(), root = keyring_.dir;
  ASSERT_TRUE(store_.WriteValues(ProfileSection("Viejo"),
                                 {{"PerfilNombre", "Viejo"}, {"PasswordEnLlavero", 1}}));
  Output(
      "printf 'clave vieja' | secret-tool store --label='Velkorant: perfil Viejo' xdg:schema "
      "org.velkorant.Velkorant.PasswordProfile application org.velkorant.Velkorant profile "
      "VIEJO settings '" +
      store_.database().path().string() + "'");
  ASSERT_TRUE(WriteProfile(store_, "Nuevo", {"Nuevo", "clave nueva"}));
  const std::tuple<const char*, std::string, fs::path> places[] = {
      {"where it was", "true", folder},
      {"moved", "mv " + folder.string() + " movida", root / "movida"},
      {"through a link", "ln -s movida enlace", root / "enlace"},
      {"restored from a copy", "cp -r movida copia && rm -r movida", root / "copia"}};
  std::string nuevo = "clave nueva";
  for (const auto& [where, command, place] : places) {
    SCOPED_TRACE(where);
    Output("cd " + root.string() + " && " + command);
    SettingsStore store(place / "settings.sqlite3");
    EXPECT_EQ(ReadProfile(store, "Viejo").profile.value().password, "clave vieja");
    EXPECT_EQ(ReadProfile(store, "Nuevo").profile.value().password, nuevo);
    EXPECT_EQ(Items(), "Nuevo:" + nuevo + "\nViejo:clave vieja\n");  // moved, not copied
    nuevo = std::string("clave ") + where;  // saved here, read at the next place
    ASSERT_TRUE(WriteProfile(store, "Nuevo", {"Nuevo", nuevo}));
  }
}

}  // namespace
}  // namespace velkorant::testing
