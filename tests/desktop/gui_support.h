#pragma once

// What the GUI tests, the screenshot tool and the GUI benchmark share: an installation of their
// own (working folder and settings database in a temporary folder), sample messages, and a
// dialog runner that records every box and dialog and answers it at once.

#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "mailbox/ui_services.h"
#include "settings/settings_store.h"
#include "store/message.h"
#include "store/message_store.h"
#include "ui/dialog_runner.h"

namespace velkorant::testing {

struct RunnerEvent {
  QString caption;  // window title of a dialog, caption of a box
  QString text;     // text of a box; empty for a dialog
  unsigned type = 0;
  QString dialog_id;  // a dialog's objectName (its template number)
};

// Records every box and answers it from a queue: OK, or No for a question, when it is empty.
class RecordingRunner : public DialogRunner {
 public:
  int ShowMessageBox(QWidget*, const QString& text, const QString& caption,
                     unsigned type) override {
    events.push_back({caption, text, type, {}});
    if (!box_answers.empty()) {
      const int answer = box_answers.front();
      box_answers.pop_front();
      return answer;
    }
    return type == kBoxYesNoQuestion ? kAnswerNo : kAnswerOk;
  }

  std::vector<RunnerEvent> events;
  std::deque<int> box_answers;
};

class ScriptedRunner final : public RecordingRunner {
 public:
  int RunModal(QDialog& dialog) override {
    events.push_back({dialog.windowTitle(), {}, 0, dialog.objectName()});
    if (on_dialog)
      on_dialog(dialog);
    return QDialog::Accepted;
  }

  int CountDialogs(const QString& id) const {
    int count = 0;
    for (const RunnerEvent& event : events)
      count += event.dialog_id == id ? 1 : 0;
    return count;
  }

  std::function<void(QDialog&)> on_dialog;
};

// A working folder and settings database of its own, current while the object lives.
class Installation {
 public:
  Installation() : previous_dir_(QDir::currentPath()) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME"))
      previous_config_ = old;
    ::setenv("XDG_CONFIG_HOME", QDir(dir_.path()).filePath("config").toLocal8Bit().constData(), 1);
    QDir(dir_.path()).mkpath(QStringLiteral("work"));
    QDir::setCurrent(work());
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

  QString work() const { return QDir(dir_.path()).filePath(QStringLiteral("work")); }
  std::string work_path() const { return work().toStdString(); }

 private:
  QTemporaryDir dir_;
  QString previous_dir_;
  std::string previous_config_;
};

struct SampleSettings {
  std::string user_name = "Hannah_desert";
  std::string server = std::string(kDefaultServerAddress);
  std::int32_t receive_at_startup = 0;
  std::int32_t receive_every_30_minutes = 0;
  std::int32_t play_sounds = 1;
  std::int32_t first_run = 0;  // a user who has run the program before: no legal notice
};

inline void WriteSettings(const SampleSettings& sample = {}) {
  SettingsStore store;
  Preferences preferences;
  preferences.user_name = sample.user_name;
  preferences.server_name = sample.server;
  preferences.receive_at_startup = sample.receive_at_startup;
  preferences.receive_every_30_minutes = sample.receive_every_30_minutes;
  preferences.play_sounds = sample.play_sounds;
  SavePreferences(store, preferences);
  Settings settings = LoadSettings(store).value();
  settings.first_run = sample.first_run;
  SaveCounters(store, settings);
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
  m.enviado = false;
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

// Saves the messages into the working folder's stores in one write.
inline void StoreMessages(const std::vector<Message>& messages) {
  MessageStore store(".");
  store.BeginBatch();
  for (const Message& message : messages)
    store.SaveMessage(message);
  store.EndBatch();
}

}  // namespace velkorant::testing
