// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/passphrase_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "platform/ansi_text.h"
#include "transfer/transfer_files.h"

namespace velkorant {
namespace {

constexpr int kPassphraseLimit = 200;

}  // namespace

PassphraseDialog::PassphraseDialog(Purpose purpose, DialogRunner& runner, QWidget* parent)
    : TemplateDialog(kPassphraseDialogId, QStringLiteral("Frase de paso"), 230, 100, parent),
      purpose_(purpose),
      runner_(runner) {
  const bool backup = purpose == Purpose::kBackup;
  // Wrapped over its lines: a single-line label would shrink its font to fit.
  auto* note = PlaceControl<QLabel>(*this, kIdPassphraseNote, {8, 7, 214, 26});
  note->setWordWrap(true);
  note->setText(
      backup ? QStringLiteral("Las contraseñas de los perfiles se guardan en la copia cifradas con "
                              "esta frase de paso. Sin ella no se pueden recuperar: apúntala en "
                              "un lugar seguro.")
             : QStringLiteral("Si la copia guarda contraseñas, escribe la frase de paso con la "
                              "que se hizo. Déjala vacía para restaurar sin las contraseñas."));
  first_ = PlaceField(*this, kIdPassphrase, kPassphraseLimit, {72, 40, 150, 13});
  MakePasswordField(*first_);
  first_->setAccessibleName(QStringLiteral("Frase de paso"));
  PlaceLabel(*this, kIdPassphraseLabel, QStringLiteral("&Frase de paso:"), {8, 42, 62, 9},
             Qt::AlignRight, first_);
  if (backup) {
    repeat_ = PlaceField(*this, kIdPassphraseRepeat, kPassphraseLimit, {72, 58, 150, 13});
    MakePasswordField(*repeat_);
    repeat_->setAccessibleName(QStringLiteral("Repítela"));
    PlaceLabel(*this, kIdPassphraseRepeatLabel, QStringLiteral("&Repítela:"), {8, 60, 62, 9},
               Qt::AlignRight, repeat_);
  }
  QPushButton* ok = PlaceButton(*this, kDialogOk, QStringLiteral("OK"), {116, 80, 50, 14});
  ok->setDefault(true);
  QPushButton* cancel =
      PlaceButton(*this, kDialogCancel, QStringLiteral("Cancelar"), {172, 80, 50, 14});
  first_->setFocus(Qt::OtherFocusReason);
  connect(ok, &QPushButton::clicked, this, &PassphraseDialog::OnOK);
  connect(cancel, &QPushButton::clicked, this, &PassphraseDialog::reject);
}

void PassphraseDialog::OnOK() {
  const QString typed = first_->text();
  if (typed.isEmpty() && purpose_ == Purpose::kRestore) {
    passphrase_.reset();
    done(kDialogOk);
    return;
  }
  // Counted in characters, which are never fewer bytes than the archive's own check counts.
  if (static_cast<std::size_t>(typed.size()) < kMinPassphraseLength) {
    Refuse(runner_, *this, first_,
           QStringLiteral("La frase de paso tiene que tener al menos %1 caracteres.")
               .arg(kMinPassphraseLength),
           QStringLiteral("Frase de paso muy corta"));
    return;
  }
  // Windows-1252, as velkorant-cli reads a passphrase file: the same phrase opens the archive in
  // both. A character without a byte there would turn into another one.
  passphrase_ = Utf8ToAnsiExact(typed.toStdString());
  if (!passphrase_) {
    Refuse(runner_, *this, first_,
           QStringLiteral("La frase de paso tiene caracteres que no se pueden usar. Escríbela "
                          "con letras, cifras y signos de los idiomas de Europa occidental."),
           QStringLiteral("Frase de paso no válida"));
    return;
  }
  if (repeat_ != nullptr && repeat_->text() != typed) {
    Refuse(runner_, *this, repeat_,
           QStringLiteral("'Repítela' no es igual que 'Frase de paso'. Escribe la misma frase en "
                          "los dos campos."),
           QStringLiteral("Las frases de paso no coinciden"));
    passphrase_.reset();
    return;
  }
  done(kDialogOk);
}

}  // namespace velkorant
