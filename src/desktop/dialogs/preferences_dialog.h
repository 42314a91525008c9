// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The preferences dialog (template 131, "Preferencias"): the user name, chosen once, with a
// comment; the mailbox server and its description; the three options. It stores what it
// accepts; registering a new name is the caller's part.

#include <functional>

#include "dialogs/dialog_fields.h"
#include "settings/settings_store.h"
#include "ui/control_ids.h"

class QCheckBox;
class QPushButton;

namespace velkorant {

class DialogRunner;

class CDialog_preferencias : public TemplateDialog {
  Q_OBJECT

 public:
  // `play_sound` plays an event sound by its number, whatever the sound option says: the dialog
  // itself follows the option as it was stored when the dialog opened.
  CDialog_preferencias(SettingsStore& store, DialogRunner& runner,
                       std::function<void(int)> play_sound, QWidget* parent = nullptr);

  // False when the settings could not be read: the dialog must not be run.
  bool opened() const { return opened_; }
  // As read when the dialog opened.
  const Preferences& loaded() const { return loaded_; }
  // As last taken from the controls; what OK or a deletion stored.
  const Preferences& edited() const { return edited_; }

  virtual void OnOK();
  virtual void OnDeleteUser();
  virtual void OnServerHelp();

 private:
  // False after the too-long box: the dialog stays as it is.
  bool TakeFields();

  SettingsStore& store_;
  DialogRunner& runner_;
  std::function<void(int)> play_sound_;
  bool opened_ = false;
  Preferences loaded_;
  Preferences edited_;

  LimitedLineEdit* user_name_;
  LimitedLineEdit* user_comment_;
  LimitedLineEdit* server_name_;
  LimitedLineEdit* server_description_;
  QCheckBox* receive_at_startup_;
  QCheckBox* receive_every_30_minutes_;
  QCheckBox* play_sounds_;
  QPushButton* delete_user_;
};

}  // namespace velkorant
