// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/profiles_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>

#include "common/ui_services.h"
#include "settings/settings_store.h"
#include "ui/dialog_runner.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

constexpr int kNameLimit = 40;
constexpr int kPasswordLimit = 40;
constexpr int kCommentLimit = 100;
constexpr std::size_t kMinimumPasswordLength = 8;

}  // namespace

std::optional<StoredProfiles> StoredProfiles::Read(SettingsStore& store, std::string* problem) {
  const auto failed = [&store, problem](const ProfileOutcome& outcome) {
    if (problem != nullptr)
      *problem = store.DescribeProblem(outcome);
    return std::nullopt;
  };
  const auto names = EnumerateProfiles(store);
  if (!names)
    return failed(ProfileOutcome::Failed());
  StoredProfiles read;
  for (const std::string& name : *names) {
    Entry entry{name, {}, false};
    ProfileRead profile = ReadProfile(store, name, &entry.password_missing);
    if (!profile.profile)
      return failed(profile.outcome);
    entry.profile = std::move(*profile.profile);
    read.entries.push_back(std::move(entry));
  }
  ProfileRead last = ReadProfile(store, kReservedProfileName, &read.last_saved.password_missing);
  if (!last.profile)
    return failed(last.outcome);
  read.last_saved.name = std::string(kReservedProfileName);
  read.last_saved.profile = std::move(*last.profile);
  return read;
}

ProfileChangeOutcome ApplyProfileChange(SettingsStore& store, const ProfileChange& change) {
  ProfileChangeOutcome outcome;
  ProfileOutcome written;
  if (change.remove) {
    written = DeleteProfile(store, change.fields.name);
    outcome.made = written.ok;
    // The copy of the one saved last goes with it.
    if (outcome.made && (written = WriteProfile(store, kReservedProfileName, PasswordProfile{})))
      return outcome;
  } else {
    written = WriteProfile(store, kReservedProfileName, change.fields);
    if (written)
      written = WriteProfile(store, change.fields.name, change.fields);
    outcome.made = written.ok;
    if (outcome.made)
      return outcome;
  }
  outcome.problem = store.DescribeProblem(written);
  return outcome;
}

CFtpConnect::CFtpConnect(StoredProfiles profiles, ProfileChanger changer, DialogRunner& runner,
                         QWidget* parent)
    : TemplateDialog(kProfilesDialogId, QStringLiteral("Perfiles de contraseñas"), 200, 154,
                     parent),
      changer_(std::move(changer)),
      runner_(runner),
      stored_(std::move(profiles)) {
  const Qt::Alignment right = Qt::AlignRight;
  // The fields before their labels, which name them; the order of the fields is the Tab order.
  name_box_ = PlaceEditableComboBox(*this, kIdProfileName, kNameLimit, {50, 11, 111, 122});
  name_ = qobject_cast<LimitedLineEdit*>(name_box_->lineEdit());
  name_->setAccessibleName(QStringLiteral("Nombre del perfil"));
  PlaceLabel(*this, kIdProfileNameLabel, QStringLiteral("&Perfil:"), {25, 13, 23, 8}, right,
             name_box_);
  password_ = PlaceField(*this, kIdProfilePassword, kPasswordLimit, {50, 27, 111, 13});
  PlaceLabel(*this, kIdProfilePasswordLabel, QStringLiteral("&Contraseña:"), {9, 28, 39, 9}, right,
             password_);
  show_password_ =
      PlaceCheckBox(*this, kIdProfileShowPassword, QStringLiteral("&Ver"), {166, 28, 23, 10});
  // The comment lines appear on screen in the order 1, 3, 4, 2, and are named by that order.
  comments_[0] = PlaceField(*this, kIdProfileComment1, kCommentLimit, {11, 55, 176, 13});
  comments_[2] = PlaceField(*this, kIdProfileComment3, kCommentLimit, {11, 73, 176, 13});
  comments_[3] = PlaceField(*this, kIdProfileComment4, kCommentLimit, {11, 91, 176, 13});
  comments_[1] = PlaceField(*this, kIdProfileComment2, kCommentLimit, {12, 109, 175, 13});
  int line = 0;
  for (LimitedLineEdit* shown : {comments_[0], comments_[2], comments_[3], comments_[1]})
    shown->setAccessibleName(QStringLiteral("Comentarios, línea %1").arg(++line));
  PlaceLabel(*this, kIdProfileCommentsLabel, QStringLiteral("C&omentarios:"), {11, 46, 42, 9},
             right, comments_[0]);
  QPushButton* remove =
      PlaceButton(*this, kIdProfileDelete, QStringLiteral("Eliminar perfil"), {7, 133, 57, 14});
  QPushButton* ok = PlaceButton(*this, kDialogOk, QStringLiteral("OK"), {83, 133, 42, 14});
  ok->setDefault(true);
  QPushButton* cancel =
      PlaceButton(*this, kDialogCancel, QStringLiteral("Cancelar"), {143, 133, 50, 14});
  MakePasswordField(*password_);

  // Opening.
  name_box_->setFocus(Qt::OtherFocusReason);
  for (const StoredProfiles::Entry& entry : stored_.entries)
    name_box_->addItem(ToQString(entry.name));
  name_box_->setCurrentIndex(-1);
  PutFields(stored_.last_saved, true);

  connect(ok, &QPushButton::clicked, this, &CFtpConnect::OnOK);
  connect(show_password_, &QCheckBox::toggled, this, &CFtpConnect::OnShowPassword);
  connect(remove, &QPushButton::clicked, this, &CFtpConnect::OnDeleteProfile);
  connect(cancel, &QPushButton::clicked, this, &CFtpConnect::reject);
  // Only a choice made by the user in the list; typing a listed name chooses nothing.
  connect(name_box_, &QComboBox::activated, this, &CFtpConnect::OnProfileChosen);
}

void CFtpConnect::PutFields(const StoredProfiles::Entry& entry, bool with_name) {
  const PasswordProfile& profile = entry.profile;
  if (with_name)
    name_->SetFieldText(StoredText(profile.name));
  password_->SetFieldText(StoredText(profile.password));
  for (std::size_t i = 0; i < comments_.size(); ++i)
    comments_[i]->SetFieldText(StoredText(profile.comments[i]));
  if (entry.password_missing) {
    // Shown once the dialog is up, over it.
    QMetaObject::invokeMethod(
        this,
        [this, name = ToQString(profile.name.empty() ? entry.name : profile.name)] {
          Refuse(runner_, *this, password_,
                 QStringLiteral("La contraseña del perfil %1 no está en el llavero del escritorio; "
                                "vuelve a escribirla y pulsa OK.")
                     .arg(name),
                 QStringLiteral("Falta la contraseña del perfil"));
        },
        Qt::QueuedConnection);
  }
}

bool CFtpConnect::TakeFields() {
  PasswordProfile taken;
  FieldTaker taker(runner_, *this);
  taker.Take(*name_box_, "Perfil", ToAnsi(name_->text()), kNameLimit, taken.name)
      .Take(*password_, "Contraseña", ToAnsi(password_->text()), kPasswordLimit, taken.password);
  for (std::size_t i = 0; i < comments_.size(); ++i)
    taker.Take(*comments_[i], "Comentarios", ToAnsi(comments_[i]->text()), kCommentLimit,
               taken.comments[i]);
  if (!taker.ok())
    return false;
  fields_ = std::move(taken);
  return true;
}

bool CFtpConnect::CheckNameAndPassword() {
  if (const auto problem = ProfileNameProblem(fields_.name)) {
    Refuse(runner_, *this, name_box_, ToQString(*problem),
           QStringLiteral("Nombre de perfil no válido"));
    return false;
  }
  // A character Windows-1252 has no byte for would become another in the key: different
  // passwords would give one key, and no other installation could read the messages.
  QStringList changes;
  AddChangedCharacters(password_->text(), changes);
  if (changes.isEmpty())
    return true;
  Refuse(
      runner_, *this, password_,
      QStringLiteral("La contraseña tiene caracteres que no se pueden guardar tal cual:\n\n%1\n\n"
                     "Con ellos la contraseña sería otra. Escríbela sin esos caracteres.")
          .arg(changes.join(u'\n')),
      QStringLiteral("Contraseña no válida"));
  return false;
}

void CFtpConnect::OnProfileChosen(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= stored_.entries.size())
    return;
  // The list put the chosen name in the field already.
  PutFields(stored_.entries[static_cast<std::size_t>(index)], false);
}

void CFtpConnect::Change(ProfileChange change) {
  SetWaiting(true);
  const bool remove = change.remove;
  // The dialog waits in its own loop for the worker and cannot be left meanwhile; should it go
  // all the same (the program quits), the answer finds nobody.
  changer_(std::move(change),
           [dialog = QPointer<CFtpConnect>(this), remove](ProfileChangeOutcome outcome) {
             if (!dialog)
               return;
             dialog->Finished(remove, std::move(outcome));
           });
}

void CFtpConnect::Finished(bool remove, ProfileChangeOutcome outcome) {
  SetWaiting(false);
  if (!outcome.problem.empty())
    ShowSettingsFailure(runner_, this, outcome.problem, false);
  if (!outcome.made)
    return;
  if (remove) {
    fields_ = PasswordProfile{};
    profile_deleted_ = true;
  }
  done(remove ? kDialogCancel : kDialogOk);
}

void CFtpConnect::OnOK() {
  if (!TakeFields())
    return;
  if (fields_.name.empty()) {
    Refuse(runner_, *this, name_box_, QStringLiteral("Introduce un nombre de perfil"),
           QStringLiteral("Falta el nombre del perfil"));
    return;
  }
  if (fields_.password.size() < kMinimumPasswordLength) {
    Refuse(runner_, *this, password_,
           QStringLiteral("Introduce una contraseña de al menos 8 caracteres"),
           QStringLiteral("Contraseña muy corta"));
    return;
  }
  if (!CheckNameAndPassword())
    return;
  Change({false, fields_});
}

void CFtpConnect::OnShowPassword() {
  // Only the way the password is shown changes; its text stays as typed.
  ShowPasswordInClear(*password_, show_password_->isChecked());
}

void CFtpConnect::OnDeleteProfile() {
  if (!TakeFields() || fields_.name.empty())
    return;
  const int answer = runner_.ShowMessageBox(
      this, QStringLiteral("¿ Quieres eliminar este perfil de contraseña ?"),
      QStringLiteral("Eliminar perfil de contraseña"), kBoxYesNoQuestion | kBoxDefaultSecond);
  if (answer != kAnswerYes)
    return;
  Change({true, fields_});
}

void CFtpConnect::reject() {
  if (!waiting())
    TemplateDialog::reject();
}

}  // namespace velkorant
