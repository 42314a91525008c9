// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the screenshots and the GUI benchmark show: an installation of their own (a working folder
// and a settings folder in a temporary folder), a user with sample settings and messages, and a
// dialog runner that answers every box and dialog at once, so nothing waits for a person.

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/ui_services.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message.h"
#include "store/message_store.h"
#include "ui/dialog_runner.h"

namespace velkorant::sample {

// Current while the object lives; removed with it.
class Installation {
 public:
  Installation() : previous_dir_(QDir::currentPath()) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME"))
      previous_config_ = old;
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))), 1);
    QDir(dir_.path()).mkpath(QStringLiteral("work"));
    QDir::setCurrent(dir_.filePath(QStringLiteral("work")));
  }
  ~Installation() {
    QDir::setCurrent(previous_dir_);
    if (previous_config_.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", previous_config_.c_str(), 1);
    }
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

 private:
  QTemporaryDir dir_;
  QString previous_dir_;
  std::string previous_config_;
};

// Answers OK (No to a question) and closes every dialog as accepted, without showing it.
class QuietRunner final : public DialogRunner {
 public:
  int ShowMessageBox(QWidget*, const QString&, const QString&, unsigned type) override {
    return type == kBoxYesNoQuestion ? kAnswerNo : kAnswerOk;
  }
  int RunModal(QDialog&) override { return QDialog::Accepted; }
};

// Hannah_desert on the default server, who has run the program before (no legal notice).
inline void WriteSettings() {
  SettingsStore store;
  Preferences preferences;
  preferences.user_name = "Hannah_desert";
  preferences.server_name = std::string(kDefaultServerAddress);
  SavePreferences(store, preferences);
  store.WriteInt(kOptionsSection, kFirstRunEntry, 0);
  // The password the sample messages were written with: a user set up, with no first-steps hint.
  WriteProfile(store, "Amigos del club", {"Amigos del club", "clave compartida", "", "", "", ""});
}

inline Message Sent(std::string receiver, std::string subject, std::string date, bool accepted) {
  Message m;
  m.enviado = true;
  m.fecha_msj = std::move(date);
  m.usuario_emisor_msj = "Hannah_desert";
  m.usuario_receptor_msj = std::move(receiver);
  m.asunto_msj = std::move(subject);
  m.cuerpo_msj = "Hola,\r\nun saludo.";
  m.password_msj = "clave compartida";
  m.flag_msj_enviado_srv = accepted;
  m.flag_msj_leido = true;
  m.flag_msj_desencriptado = true;
  return m;
}

inline Message Received(std::string sender, std::string subject, std::string date, bool read,
                        bool decrypted = true) {
  Message m;
  m.fecha_msj = std::move(date);
  m.usuario_emisor_msj = std::move(sender);
  m.usuario_receptor_msj = "Hannah_desert";
  m.asunto_msj = std::move(subject);
  m.cuerpo_msj = decrypted ? "Buenos d\xED"
                             "as.\r\nNos vemos ma\xF1"
                             "ana."
                           : "9F3A0C77E1D2B4A5";
  m.password_msj = "clave compartida";
  m.flag_msj_leido = read;
  m.flag_msj_desencriptado = decrypted;
  return m;
}

// Into the working folder's stores, in one write.
inline void StoreMessages(const std::vector<Message>& messages) {
  MessageStore store(".");
  store.BeginBatch();
  for (const Message& message : messages)
    store.SaveMessage(message);
  store.EndBatch();
}

}  // namespace velkorant::sample
