// SPDX-License-Identifier: GPL-3.0-or-later
// "Archivo"'s move commands through the menu: an import from a folder as the Windows program
// leaves it, and a backup restored into another installation.

#include <gmock/gmock.h>

#include <QFileDialog>
#include <fstream>
#include <tuple>

#include "transfer/registry_file.h"
#include "transfer/windows_settings.h"
#include "window.h"

namespace velkorant::testing {
namespace {

// The chooser that opens next takes this file or folder.
void Choose(Runner& runner, const std::filesystem::path& path) {
  runner.steps.push_back([path](QDialog& dialog) {
    static_cast<QFileDialog&>(dialog).selectFile(QString::fromStdString(path.string()));
    dialog.accept();
  });
}

TEST_F(WindowTest, AnImportListsItsChangesAndMakesThemOnlyOnYes) {
  StartWith({Msg('r', "Ana", "Hola", "2024-03-01")});
  const auto folder = home_.root() / "windows";
  std::filesystem::create_directories(folder);
  MessageStore(folder).SaveMessage(Msg('u', "Ana", "Desde Windows", "2024-03-02"));
  // The user of the source, the answer, a line of the last question.
  const std::tuple<const char*, int, const char*> cases[] = {
      {"Otro_usuario", kAnswerNo, "¿ Reemplazar a ese usuario ?"},
      {"Hannah_desert", kAnswerNo, "· Perfil nuevo: Trabajo\n"},
      {"Hannah_desert", kAnswerYes, "· MsjsRecibidos: de 0 a 12\n"}};
  for (const auto& [user, answer, asked] : cases) {
    std::ofstream(folder / "vlkrnts.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\KRWTN_Software\\VLKRNTS\\Opciones]\r\n"
        << "\"NombreUsuario\"=\"" << user << "\"\r\n\"MsjsRecibidos\"=dword:0000000c\r\n"
        << "\"NombreServidor\"=\"" << kClosedServer << "\"\r\n\r\n"
        << "[HKCU\\Software\\KRWTN_Software\\VLKRNTS\\PerfilPass\\Trabajo]\r\n"
        << "\"PerfilNombre\"=\"Trabajo\"\r\n\"Password\"=\"clave de trabajo\"\r\n";
    Choose(runner_, folder);
    runner_.answers = {answer};
    runner_.events.clear();
    Press(kCommandImportWindows);
    ASSERT_EQ(runner_.Captions(), QStringList{"Importar desde Windows"}) << user;
    EXPECT_THAT(runner_.events[0].second.toStdString(), ::testing::HasSubstr(asked));
    EXPECT_EQ(runner_.types.back(), kBoxYesNoQuestion | kBoxDefaultSecond);
    // The window's settings (read again from the database) and its list; the outcome in the status
    // bar.
    const bool yes = answer == kAnswerYes;
    EXPECT_EQ(view()->settings().received_counter, yes ? 12 : 0) << user;
    EXPECT_EQ(Column().join(' '), yes ? "r2 r1" : "r1");
    EXPECT_EQ(frame()->pane(2)->text().contains(U("hecho (")), yes);
  }
}

TEST_F(WindowTest, ABackupRestoredIntoAnotherInstallationBringsEverything) {
  StartWith({Msg('r', "Ana", "Hola", "2024-03-01"), Msg('a', "Luisa", "Fotos", "2024-03-02")},
            {.profiles = {"Amigos", "Club"}});
  ASSERT_TRUE(SettingsStore().WriteInt(kOptionsSection, kReceivedCounterEntry, 5));
  const auto archive = home_.root() / "copia.tar";
  Choose(runner_, archive);
  runner_.answers = {kAnswerYes};  // the passwords too
  Fill(kCommandBackup, {{kIdPassphrase, "frase de paso"}, {kIdPassphraseRepeat, "frase de paso"}});
  // The message files, and the settings and profiles with their passwords.
  const auto everything = [] {
    SettingsStore store;
    return Installation::Bytes(kReceivedMessagesFile) + Installation::Bytes(kSentMessagesFile) +
           WriteRegeditFile(SnapshotFromStore(store, true).value());
  };
  const std::string before = everything();
  app_.reset();

  const Installation second("segunda");
  runner_.steps.push_back(Escape);  // the legal notice of a first start
  Start();
  Choose(runner_, archive);
  runner_.answers = {kAnswerYes};
  Fill(kCommandRestore, {{kIdPassphrase, "frase de paso"}});
  EXPECT_EQ(everything(), before);
  EXPECT_EQ(Column().size(), 2);
}

}  // namespace
}  // namespace velkorant::testing
