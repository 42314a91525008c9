#include "dialogs/profiles_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "mailbox/ui_services.h"
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

CFtpConnect::CFtpConnect(SettingsStore& store, DialogRunner& runner, QWidget* parent)
    : TemplateDialog(kProfilesDialogId, QStringLiteral("Perfiles de contraseñas"), 200, 154,
                     parent),
      store_(store),
      runner_(runner) {
  const Qt::Alignment right = Qt::AlignRight;
  PlaceLabel(*this, 1008, QStringLiteral("Perfil:"), {25, 13, 23, 8}, right);
  name_box_ = PlaceEditableComboBox(*this, 1007, kNameLimit, {50, 11, 111, 122});
  name_ = qobject_cast<LimitedLineEdit*>(name_box_->lineEdit());
  PlaceLabel(*this, 1004, QStringLiteral("Contraseña:"), {9, 28, 39, 9}, right);
  password_ = PlaceField(*this, 1005, kPasswordLimit, {50, 27, 111, 13});
  show_password_ = PlaceCheckBox(*this, 1130, QStringLiteral("Ver"), {166, 28, 23, 10});
  PlaceLabel(*this, 1006, QStringLiteral("Comentarios:"), {11, 46, 42, 9}, right);
  // The comment lines appear on screen in the order 1, 3, 4, 2.
  comment1_ = PlaceField(*this, 1009, kCommentLimit, {11, 55, 176, 13});
  comment3_ = PlaceField(*this, 1017, kCommentLimit, {11, 73, 176, 13});
  comment4_ = PlaceField(*this, 1011, kCommentLimit, {11, 91, 176, 13});
  comment2_ = PlaceField(*this, 1003, kCommentLimit, {12, 109, 175, 13});
  QPushButton* remove =
      PlaceButton(*this, 1131, QStringLiteral("Eliminar perfil"), {7, 133, 57, 14});
  QPushButton* ok = PlaceButton(*this, kDialogOk, QStringLiteral("OK"), {83, 133, 42, 14});
  ok->setDefault(true);
  QPushButton* cancel =
      PlaceButton(*this, kDialogCancel, QStringLiteral("Cancelar"), {143, 133, 50, 14});
  MakePasswordField(*password_);

  // Opening.
  name_box_->setFocus(Qt::OtherFocusReason);
  auto names = EnumerateProfiles(store_);
  auto reserved = names ? ReadProfile(store_, kReservedProfileName) : std::nullopt;
  opened_ = reserved.has_value();
  names_ = std::move(names).value_or(std::vector<std::string>());
  for (const std::string& name : names_)
    name_box_->addItem(ToQString(name));
  name_box_->setCurrentIndex(-1);
  stored_ = std::move(reserved).value_or(PasswordProfile{});
  PutFields(stored_);

  connect(ok, &QPushButton::clicked, this, &CFtpConnect::OnOK);
  connect(show_password_, &QCheckBox::toggled, this, &CFtpConnect::OnShowPassword);
  connect(remove, &QPushButton::clicked, this, &CFtpConnect::OnDeleteProfile);
  connect(cancel, &QPushButton::clicked, this, &CFtpConnect::reject);
  // Only a choice made by the user in the list; typing a listed name chooses nothing.
  connect(name_box_, &QComboBox::activated, this, &CFtpConnect::OnProfileChosen);
}

void CFtpConnect::PutFields(const PasswordProfile& profile) {
  name_->SetFieldText(StoredText(profile.name));
  password_->SetFieldText(StoredText(profile.password));
  comment1_->SetFieldText(StoredText(profile.comment1));
  comment2_->SetFieldText(StoredText(profile.comment2));
  comment3_->SetFieldText(StoredText(profile.comment3));
  comment4_->SetFieldText(StoredText(profile.comment4));
}

bool CFtpConnect::TakeFields() {
  PasswordProfile taken;
  FieldTaker taker(runner_, *this);
  taker.Take(*name_box_, "Perfil", ToAnsi(name_->text()), kNameLimit, taken.name)
      .Take(*password_, "Contraseña", ToAnsi(password_->text()), kPasswordLimit, taken.password)
      .Take(*comment1_, "Comentarios", ToAnsi(comment1_->text()), kCommentLimit, taken.comment1)
      .Take(*comment2_, "Comentarios", ToAnsi(comment2_->text()), kCommentLimit, taken.comment2)
      .Take(*comment3_, "Comentarios", ToAnsi(comment3_->text()), kCommentLimit, taken.comment3)
      .Take(*comment4_, "Comentarios", ToAnsi(comment4_->text()), kCommentLimit, taken.comment4);
  if (!taker.ok())
    return false;
  fields_ = std::move(taken);
  return true;
}

void CFtpConnect::OnProfileChosen(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= names_.size())
    return;
  auto stored = ReadProfile(store_, names_[static_cast<std::size_t>(index)]);
  if (!stored) {
    ShowSettingsFailure(runner_, this, store_, true);
    return;
  }
  stored_ = std::move(*stored);
  password_->SetFieldText(StoredText(stored_.password));
  comment1_->SetFieldText(StoredText(stored_.comment1));
  comment2_->SetFieldText(StoredText(stored_.comment2));
  comment3_->SetFieldText(StoredText(stored_.comment3));
  comment4_->SetFieldText(StoredText(stored_.comment4));
}

void CFtpConnect::OnOK() {
  if (!TakeFields())
    return;
  if (fields_.name.empty()) {
    runner_.ShowMessageBox(this, QStringLiteral("Introduce un nombre de perfil"),
                           QStringLiteral("Falta el nombre del perfil"), kBoxOkQuestion);
    return;
  }
  if (fields_.password.size() < kMinimumPasswordLength) {
    runner_.ShowMessageBox(this,
                           QStringLiteral("Introduce una contraseña de al menos 8 caracteres"),
                           QStringLiteral("Contraseña muy corta"), kBoxOkQuestion);
    return;
  }
  if (!WriteProfile(store_, kReservedProfileName, fields_) ||
      !WriteProfile(store_, fields_.name, fields_)) {
    ShowSettingsFailure(runner_, this, store_, false);
    return;
  }
  done(kDialogOk);
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
  if (!DeleteProfile(store_, fields_.name)) {
    ShowSettingsFailure(runner_, this, store_, false);
    return;
  }
  fields_ = PasswordProfile{};
  profile_deleted_ = true;
  if (!WriteProfile(store_, kReservedProfileName, fields_))
    ShowSettingsFailure(runner_, this, store_, false);
  done(kDialogCancel);
}

}  // namespace velkorant
