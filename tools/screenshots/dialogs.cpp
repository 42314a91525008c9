// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the three dialogs, offscreen, with sample content into
// /tmp/velkorant-dialog-<template>.png (or into the folder named on the command line).

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cstdio>

#include "dialogs/compose_dialog.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/profiles_dialog.h"
#include "sample_data.h"

namespace {

using namespace velkorant;

bool Save(QDialog& dialog, const QString& folder) {
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog))
    return false;
  QApplication::processEvents();
  const QString path =
      QDir(folder).filePath(QStringLiteral("velkorant-dialog-%1.png").arg(dialog.objectName()));
  if (!dialog.grab().save(path)) {
    std::fprintf(stderr, "dialog_screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  dialog.hide();
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const QString folder = argc > 1
                             ? QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]))
                             : QStringLiteral("/tmp");

  using namespace velkorant::sample;
  Installation installation;
  SettingsStore store;
  Preferences preferences;
  preferences.user_name = "Hannah_desert";
  preferences.server_name = std::string(kDefaultServerAddress);
  preferences.user_comment = "Cuenta personal";
  preferences.server_description = "Servidor de la asociaci\xF3n";
  preferences.receive_at_startup = 1;
  SavePreferences(store, preferences);
  const PasswordProfile shared{"Amigos del club",
                               "clave compartida",
                               "Acordada en la cena",
                               "Cambiarla en junio",
                               "Solo para mensajes del club",
                               ""};
  WriteProfile(store, "Amigos del club", shared);
  WriteProfile(store, kReservedProfileName, shared);
  WriteProfile(store, "Familia", {"Familia", "otra clave larga", "", "", "", ""});

  QuietRunner runner;
  bool ok = true;
  {
    CFtpConnect profiles(StoredProfiles::Read(store).value(), {}, runner);
    ok = Save(profiles, folder) && ok;
  }
  {
    CDialog_preferencias preferences_dialog(store, runner, [](int) {});
    ok = Save(preferences_dialog, folder) && ok;
  }
  {
    ComposePresets presets;
    presets.receiver = "Jos\xE9_Mar\xEDn";
    presets.subject = "Re: Cena del viernes";
    presets.body = "Hola Jos\xE9,\r\nel viernes a las nueve me viene bien.\r\n\r\nUn saludo.";
    presets.profile_name = "Amigos del club";
    presets.reply = true;
    presets.own_user_name = "Hannah_desert";
    PasswordList passwords;
    passwords.LoadPasswordList(store);
    CDialog_redactar_msj compose(EnumerateProfiles(store).value(), passwords, runner, presets);
    ok = Save(compose, folder) && ok;
  }
  return ok ? 0 : 1;
}
