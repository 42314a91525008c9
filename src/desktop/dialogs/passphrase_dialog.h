// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The passphrase that seals the passwords of a backup. For a backup it is typed twice and must be
// long enough; for a restore it is typed once, or left empty to restore without the passwords.

#include <optional>
#include <string>

#include "dialogs/dialog_fields.h"
#include "ui/control_ids.h"

namespace velkorant {

class DialogRunner;

class PassphraseDialog : public TemplateDialog {
  Q_OBJECT

 public:
  enum class Purpose { kBackup, kRestore };
  PassphraseDialog(Purpose purpose, DialogRunner& runner, QWidget* parent = nullptr);

  // What OK took, in Windows-1252 as velkorant-cli reads it from its file; nothing when a restore
  // goes without.
  const std::optional<std::string>& passphrase() const { return passphrase_; }

 private:
  void OnOK();

  Purpose purpose_;
  DialogRunner& runner_;
  LimitedLineEdit* first_;
  LimitedLineEdit* repeat_ = nullptr;
  std::optional<std::string> passphrase_;
};

}  // namespace velkorant
