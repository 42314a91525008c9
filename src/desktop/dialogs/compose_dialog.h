// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The compose dialog (template 132, "Redactar mensaje"): receiver, subject, body and the password
// profile that encrypts the message. The caller presets it, runs it and reads the fields back;
// storing and sending are the caller's.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialog_fields.h"
#include "settings/password_profiles.h"
#include "ui/control_ids.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace velkorant {

class DialogRunner;
class SettingsStore;

struct ComposePresets {
  std::string receiver;
  std::string subject;
  std::string body;  // line breaks CR LF
  // The profile to choose at opening, by its listed name; none when absent or not listed.
  std::optional<std::string> profile_name;
  bool reply = false;
  std::string own_user_name;
};

// Stores the message the dialog confirmed, elsewhere (the folder's lock may keep it waiting), and
// calls `finished` on the GUI thread: with nothing when it was stored, else with the reason.
using ComposeStoreStep = std::function<void(std::function<void(std::optional<QString>)> finished)>;

class CDialog_redactar_msj : public TemplateDialog {
  Q_OBJECT

 public:
  // The profiles are listed as `profile_names` (enumeration order) and take their passwords from
  // `passwords`, both read beforehand: the dialog never waits for the keyring.
  CDialog_redactar_msj(const std::vector<std::string>& profile_names, const PasswordList& passwords,
                       DialogRunner& runner, ComposePresets presets, QWidget* parent = nullptr);

  // Once confirmed, the dialog stays open, waiting, until `store` says the message was stored,
  // and stays open with the text when it could not be. `abandon` is called when the user leaves
  // it meanwhile (the store should not go ahead).
  void SetStoreStep(ComposeStoreStep store, std::function<void()> abandon);

  // The fields as taken when the dialog was confirmed (Windows-1252; body lines end CR LF).
  const std::string& receiver() const { return receiver_; }
  const std::string& subject() const { return subject_; }
  const std::string& body() const { return body_; }
  const std::string& password() const { return password_; }

  // Both confirm buttons run the same checks; the first failure's box keeps the dialog open.
  virtual bool ValidateMessage();
  // Esc, "Cancelar" and the close box ask first when the subject or the body was changed.
  void reject() override;

 private:
  // The controls the dialog connects once it has opened with its presets.
  struct Placed {
    QPushButton* save;
    QPushButton* send;
    QPushButton* cancel;
    QPushButton* help;
    QLabel* body_length;
  };
  Placed PlaceControls();
  void Open(const ComposePresets& presets);
  void Connect(const Placed& placed);
  void Confirm(int result);
  // Asks whether to go on when characters would change on their way into the stored message.
  bool AcceptChangedCharacters(bool send);
  void LoadSelectedProfile();
  void OnShowPassword();
  void OnHelp();

  const PasswordList& passwords_;
  DialogRunner& runner_;
  std::string own_user_name_;
  std::vector<std::string> profile_names_;
  ComposeStoreStep store_;
  std::function<void()> abandon_;

  std::string profile_name_;
  std::string password_;
  std::string receiver_;
  std::string subject_;
  std::string body_;
  // As the dialog opened with them, to tell whether anything typed would be lost.
  QString opened_subject_;
  QString opened_body_;

  LimitedLineEdit* receiver_field_;
  LimitedLineEdit* subject_field_;
  QLabel* reply_label_;
  LimitedTextEdit* body_field_;
  QComboBox* profile_list_;
  LimitedLineEdit* password_field_;
  QCheckBox* show_password_;
};

}  // namespace velkorant
