// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/backup_archive.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/password_profiles.h"
#include "support/installation.h"
#include "transfer/tar_archive.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

const ScryptParameters kQuick{1 << 10, 8, 1};  // for the tests only: sealing is slow by design

void Save(const fs::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

// The bytes with the one at `at` changed by `mask`.
std::string Flipped(std::string bytes, std::size_t at, char mask) {
  bytes[at] ^= mask;
  return bytes;
}

// Sets a field of the header at `at` and puts its checksum right, as a forger would.
std::string Forged(std::string archive, std::size_t at, std::size_t field, std::string_view value) {
  archive.replace(at + field, value.size(), value);
  archive.replace(at + 148, 8, "        ");
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i)
    sum += static_cast<unsigned char>(archive[at + i]);
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06o", sum);
  archive.replace(at + 148, 7, digits, 7);
  return archive;
}

TEST(TarArchive, StandardToolsReadWhatIsWrittenAndWriteWhatIsRead) {
  const Installation here("tar");
  std::string every_byte;
  for (int i = 0; i < 700; ++i)
    every_byte += static_cast<char>(i);
  const std::vector<TarEntry> entries = {{"MANIFIESTO.txt", "uno\n"},
                                         {"vacio", ""},
                                         {"bytes", every_byte},
                                         {std::string(100, 'n'), "x"}};
  const std::string archive = WriteTar(entries, 1700000000);
  Save("a.tar", archive);
  ASSERT_EQ(
      std::system("mkdir t p && tar -xf a.tar -C t && " VELKORANT_PYTHON
                  " -c 'import tarfile; tarfile.open(\"a.tar\").extractall(\"p\")' && "
                  "tar -tvf a.tar | grep -q '^-rw------- 0/0 .* MANIFIESTO.txt$' && diff -r t p"),
      0);
  for (const TarEntry& entry : entries)  // as Python's too, by the diff
    EXPECT_EQ(Installation::Bytes(fs::path("t") / entry.name), entry.data) << entry.name;
  // What GNU tar and Python write for the same files reads back the same; a record's padding
  // of zeros is fine.
  for (const std::string maker :
       {"tar --format=gnu -cf b.tar -C t", "tar --format=ustar -cf b.tar -C t",
        VELKORANT_PYTHON
        " -c 'import sys, tarfile; t = tarfile.open(\"b.tar\", \"w\", "
        "format=tarfile.GNU_FORMAT); [t.add(\"t/\" + n, n) for n in sys.argv[1:]]; t.close()'"}) {
    ASSERT_EQ(std::system((maker + " MANIFIESTO.txt vacio bytes " + entries[3].name).c_str()), 0)
        << maker;
    const TarRead read = ReadTar(Installation::Bytes("b.tar"));
    EXPECT_EQ(read.error, "") << maker;
    EXPECT_EQ(read.entries, entries) << maker;
  }
}

TEST(TarArchive, RefusesWhatIsNotPlainFilesWhole) {
  const std::string archive =
      WriteTar(std::vector<TarEntry>{{"uno", std::string(700, 'u')}, {"dos", "dos"}}, 0);
  const std::size_t second = 512 + 1024;  // the second header
  struct Case {
    std::string name, archive, error;  // error: a part of the message
    TarLimits limits = {};
  };
  std::vector<Case> cases = {
      {"path", Forged(archive, 0, 0, "a/b"), "ruta"},
      {"parent", Forged(archive, 0, 0, std::string("..\0", 3)), "ruta"},
      {"backslash", Forged(archive, 0, 0, "a\\b"), "ruta"},
      {"prefix", Forged(archive, 0, 345, "carpeta"), "ruta"},
      {"empty name", Forged(archive, 0, 0, std::string(3, '\0')), "no tiene nombre"},
      {"nul in name", Forged(archive, 0, 0, std::string("u\0o", 3)), "nulo"},
      {"hard link", Forged(archive, 0, 156, "1"), "enlace"},
      {"symbolic link", Forged(archive, 0, 156, "2"), "enlace"},
      {"device", Forged(archive, 0, 156, "3"), "dispositivo"},
      {"folder", Forged(archive, 0, 156, "5"), "carpeta"},
      {"pax", Forged(archive, 0, 156, "x"), "pax"},
      {"other magic", Forged(archive, 0, 257, "ustaR"), "ustar"},
      {"twice", Forged(archive, second, 0, "uno"), "dos veces"},
      {"size not octal", Forged(archive, 0, 124, "0000000009"), "octal"},
      {"size beyond the end", Forged(archive, second, 124, "00000010000"), "cortado"},
      {"size above the limit", archive, "admitidos", {64, 699}},
      {"too many", archive, "entradas", {1}},
      {"garbage after the end", archive + "x" + std::string(511, '\0'), "hay datos"},
      {"garbage in padding", std::string(archive).replace(512 + 700, 1, "x"), "relleno"},
  };
  // Any byte of a header changed is caught by its checksum, whatever the field.
  for (const auto field : {0u, 100u, 108u, 116u, 124u, 136u, 148u, 156u, 257u, 263u, 345u, 511u})
    cases.push_back({"field " + std::to_string(field),
                     std::string(archive).replace(second + field, 1, "\x01"), "suma de control"});
  for (const std::size_t size : {0u, 100u, 512u, 1000u, 1536u, 2047u, 2560u, 3072u, 3583u})
    cases.push_back({"cut at " + std::to_string(size), archive.substr(0, size), "cortado"});
  for (const Case& c : cases) {
    const TarRead read = ReadTar(c.archive, c.limits);
    EXPECT_NE(read.error.find(c.error), std::string::npos) << c.name << ": " << read.error;
    EXPECT_TRUE(read.entries.empty()) << c.name;
  }
}

TEST(BackupArchive, PasswordBoxOpensOnlyWithItsPassphraseAndParameters) {
  EXPECT_GE(ScryptParameters{}.n, 1u << 15);  // what backups are sealed with
  EXPECT_EQ(ScryptParameters{}.r, 8u);
  EXPECT_TRUE(AcceptableScrypt({1 << 20, 8, 1}));
  for (const ScryptParameters refused : std::initializer_list<ScryptParameters>{
           {1 << 21, 1, 1}, {1 << 20, 16, 1}, {1 << 20, 8, 2}, {3 << 10, 8, 1}, {1, 8, 1}})
    EXPECT_FALSE(AcceptableScrypt(refused)) << refused.n << " " << refused.r << " " << refused.p;

  ProfilePasswords passwords;
  passwords.entries = {{"Amigos", "clave\xF1 de 8"}, {"Grupo\\Casa", ""}, {"Seleccion", "x"}};
  const std::string box = SealPasswords(passwords, "frase", kQuick);
  const PasswordsOpen open = OpenPasswords(box, "frase");
  ASSERT_EQ(open.problem, BackupProblem::kNone) << open.error;
  ASSERT_EQ(open.passwords.entries.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(std::tie(open.passwords.entries[i].profile, open.passwords.entries[i].password),
              std::tie(passwords.entries[i].profile, passwords.entries[i].password));
  EXPECT_EQ(OpenPasswords(box, "frasE").problem, BackupProblem::kWrongPassphrase);
  EXPECT_EQ(OpenPasswords(SealPasswords({}, "f", kQuick), "f").problem, BackupProblem::kNone);
  EXPECT_EQ(SealPasswords(passwords, "frase", {1 << 21, 8, 1}), "");
  // The header is authenticated: no byte of it, nor of the rest, changes unnoticed.
  for (std::size_t at = 0; at < box.size(); at += 3)
    EXPECT_NE(OpenPasswords(Flipped(box, at, 0x40), "frase").problem, BackupProblem::kNone) << at;
}

TEST(BackupArchive, MakesFromAnInstallationAndOpensTheSame) {
  const Installation installation("backup");
  SettingsStore store(installation.settings_file());
  const std::string clear = "ClaveEnClaro-7781";
  ASSERT_TRUE(store.WriteValues(kOptionsSection, {{"NombreUsuario", "Usuario \xD1\\\n\x81"},
                                                  {"MsjsRecibidos", 42},
                                                  {"ComentarioUsuario", "comentario"}}));
  ASSERT_TRUE(WriteProfile(store, "Amigos", {"Amigos", clear, {"c1", "", "c3", "c4"}}));
  ASSERT_EQ(store.ReadText("PerfilPass\\Amigos", "Password"), clear);  // no keyring here
  ASSERT_TRUE(store.WriteValues("PerfilPass\\Llavero", {{"PasswordEnLlavero", 1}}));
  const std::string sent = "[mensaje_enviado_1]\r\nasunto_msj=\xC3\xB1\r\n\r\n";
  const std::string received = "[mensaje_recibido_7]\r\nfecha_msj=x\r\n";
  Save(installation.work() / kSentMessagesFile, sent);
  Save(installation.work() / kReceivedMessagesFile, received);

  ProfilePasswords passwords;
  passwords.entries = {{"Amigos", clear}};
  const BackupMake made =
      MakeBackup(store, installation.work(), PasswordSeal{passwords, "frase", kQuick});
  ASSERT_TRUE(made) << made.error;
  EXPECT_EQ(made.archive.find(clear), std::string::npos);

  const BackupOpen open = OpenBackup(made.archive, "frase");
  ASSERT_TRUE(open) << open.error;
  EXPECT_EQ(open.sent_messages, sent);
  EXPECT_EQ(open.received_messages, received);
  EXPECT_EQ(open.manifest.user_name, "Usuario \xD1\\\n\x81");
  EXPECT_EQ(open.manifest.received_counter, 42);
  Save(installation.root() / "copia.sqlite3", open.settings);
  SettingsDatabase copy(installation.root() / "copia.sqlite3");
  // Each of these values, looked up in each section: as it was, but for the passwords.
  for (const std::string key : {"Opciones", "PerfilPass\\Amigos", "PerfilPass\\Llavero"}) {
    for (const std::string name :
         {"NombreUsuario", "MsjsRecibidos", "ComentarioUsuario", "PerfilNombre", "Comentario3",
          "Password", "PasswordEnLlavero"}) {
      EXPECT_EQ(copy.ReadText(key, name),
                name.starts_with("Password") ? std::nullopt : store.database().ReadText(key, name))
          << key << " " << name;
      EXPECT_EQ(copy.status(), SettingsDatabaseStatus::kOk);
    }
  }

  EXPECT_EQ(OpenBackup(made.archive, "otra").problem, BackupProblem::kWrongPassphrase);
  const BackupOpen unopened = OpenBackup(made.archive, std::nullopt);
  EXPECT_TRUE(unopened.has_passwords && unopened.passwords.entries.empty()) << unopened.error;
  for (std::size_t at = 0; at < made.archive.size(); at += 101)
    EXPECT_EQ(OpenBackup(Flipped(made.archive, at, 0x01), "frase").problem, BackupProblem::kDamaged)
        << at;
  fs::remove(installation.work() / kSentMessagesFile);
  const std::string bare = MakeBackup(store, ".", std::nullopt).archive;
  const BackupOpen opened = OpenBackup(bare, std::nullopt);
  EXPECT_TRUE(opened && !opened.sent_messages && opened.received_messages && !opened.has_passwords);
  // Each file the manifest lists, and no other, must be in the archive.
  const std::vector<TarEntry> e = ReadTar(bare).entries;  // the manifest, settings, received
  ASSERT_EQ(e.size(), 3u);
  for (const std::vector<TarEntry>& edited :
       std::vector<std::vector<TarEntry>>{{e[0], e[1]},
                                          {e[0], e[1], e[2], {"otro", ""}},
                                          {e[1], e[0], e[2]},
                                          {e[0], {e[1].name, e[1].data + "x"}, e[2]}})
    EXPECT_EQ(OpenBackup(WriteTar(edited, 0), "frase").problem, BackupProblem::kDamaged);
  // A folder another process is changing is no folder to copy.
  FileLock busy(installation.work());
  ASSERT_TRUE(busy.Acquire(std::chrono::seconds(1)));
  EXPECT_FALSE(MakeBackup(store, installation.work(), std::nullopt, std::chrono::milliseconds(50)));
}

}  // namespace
}  // namespace velkorant
