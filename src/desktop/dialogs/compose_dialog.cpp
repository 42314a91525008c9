// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/compose_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <algorithm>

#include "common/ui_services.h"
#include "mailbox/message_actions.h"
#include "platform/ansi_text.h"
#include "ui/dialog_runner.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

constexpr int kProfileNameLimit = 40;
constexpr int kPasswordLimit = 40;
// Changed characters listed by name in the box; the others are only counted.
constexpr qsizetype kChangesListed = 10;

}  // namespace

CDialog_redactar_msj::CDialog_redactar_msj(const std::vector<std::string>& profile_names,
                                           const PasswordList& passwords, DialogRunner& runner,
                                           ComposePresets presets, QWidget* parent)
    : TemplateDialog(kComposeDialogId, QStringLiteral("Redactar mensaje"), 217, 235, parent),
      passwords_(passwords),
      runner_(runner),
      own_user_name_(std::move(presets.own_user_name)),
      profile_names_(profile_names) {
  const Placed placed = PlaceControls();
  Open(presets);
  Connect(placed);
}

CDialog_redactar_msj::Placed CDialog_redactar_msj::PlaceControls() {
  Placed placed;
  // The fields before their labels, which name them; the order of the fields is the Tab order.
  receiver_field_ =
      PlaceField(*this, kIdReceiver, static_cast<int>(kReceiverLimit), {71, 8, 104, 13});
  PlaceLabel(*this, kIdReceiverLabel, QStringLiteral("&Usuario receptor:"), {9, 10, 59, 9},
             Qt::AlignRight, receiver_field_);
  subject_field_ =
      PlaceField(*this, kIdSubject, static_cast<int>(kSubjectLimit), {40, 26, 170, 13});
  PlaceLabel(*this, 0, QStringLiteral("&Asunto:"), {9, 27, 29, 8}, Qt::AlignRight, subject_field_);
  reply_label_ =
      PlaceFramedLabel(*this, kIdReplyMark, QStringLiteral("Respuesta"), {45, 42, 40, 10});
  reply_label_->hide();
  placed.body_length =
      PlaceLabel(*this, kIdBodyLength, QString(), {150, 44, 60, 8}, Qt::AlignRight);
  body_field_ = new LimitedTextEdit(static_cast<int>(kBodyLimit), &form());
  body_field_->setObjectName(QString::number(kIdBody));
  body_field_->setGeometry(units().Rect(7, 55, 203, 98));
  PlaceLabel(*this, 0, QStringLiteral("&Mensaje:"), {13, 44, 29, 8}, Qt::AlignHCenter, body_field_);

  PlaceGroup(*this, QStringLiteral("Contraseña de encriptación y desencriptación"),
             {7, 156, 203, 49});
  profile_list_ = PlaceComboBox(*this, kIdComposeProfile, {58, 171, 111, 122});
  PlaceLabel(*this, kIdComposeProfileLabel, QStringLiteral("&Perfil:"), {31, 172, 25, 8},
             Qt::AlignRight, profile_list_);
  placed.help = PlaceHelpButton(*this, kIdComposeHelp, {191, 166, 13, 12},
                                QStringLiteral("Ayuda sobre la contraseña del mensaje"));
  // The password always comes from a profile.
  password_field_ = PlaceField(*this, kIdComposePassword, kPasswordLimit, {58, 187, 111, 13});
  password_field_->setReadOnly(true);
  MakePasswordField(*password_field_);
  password_field_->setAccessibleName(QStringLiteral("Contraseña del perfil"));
  PlaceLabel(*this, kIdComposePasswordLabel, QStringLiteral("&Contraseña:"), {15, 188, 39, 9},
             Qt::AlignRight, password_field_);
  show_password_ =
      PlaceCheckBox(*this, kIdComposeShowPassword, QStringLiteral("&Ver"), {174, 188, 23, 10});

  placed.save = PlaceButton(*this, kComposeSaveOnly, QStringLiteral("Guardar"), {7, 214, 49, 14});
  placed.send =
      PlaceButton(*this, kDialogOk, QStringLiteral("Guardar y Enviar"), {73, 214, 70, 14});
  placed.send->setDefault(true);
  placed.cancel = PlaceButton(*this, kDialogCancel, QStringLiteral("Cancelar"), {160, 214, 50, 14});
  return placed;
}

void CDialog_redactar_msj::Open(const ComposePresets& presets) {
  // In enumeration order, unsorted: the same order as the program's password list.
  for (const std::string& name : profile_names_)
    profile_list_->addItem(ToQString(name));
  receiver_field_->SetFieldText(StoredText(presets.receiver));
  subject_field_->SetFieldText(StoredText(presets.subject));
  body_field_->SetFieldText(StoredText(presets.body));
  opened_subject_ = subject_field_->text();
  opened_body_ = body_field_->FieldText();
  // Typing starts in the first field left to fill: a preset receiver is not typed over.
  QWidget* first_empty = receiver_field_->text().isEmpty()  ? receiver_field_
                         : subject_field_->text().isEmpty() ? subject_field_
                                                            : nullptr;
  (first_empty ? first_empty : body_field_)->setFocus(Qt::OtherFocusReason);
  reply_label_->setVisible(presets.reply);
  const auto listed = presets.profile_name
                          ? std::ranges::find(profile_names_, *presets.profile_name)
                          : profile_names_.end();
  profile_list_->setCurrentIndex(
      listed == profile_names_.end() ? -1 : static_cast<int>(listed - profile_names_.begin()));
  LoadSelectedProfile();
}

void CDialog_redactar_msj::Connect(const Placed& placed) {
  connect(placed.send, &QPushButton::clicked, this, [this] { Confirm(kDialogOk); });
  connect(placed.save, &QPushButton::clicked, this, [this] { Confirm(kComposeSaveOnly); });
  connect(placed.cancel, &QPushButton::clicked, this, &CDialog_redactar_msj::reject);
  connect(show_password_, &QCheckBox::toggled, this, &CDialog_redactar_msj::OnShowPassword);
  connect(placed.help, &QPushButton::clicked, this, &CDialog_redactar_msj::OnHelp);
  connect(profile_list_, &QComboBox::currentIndexChanged, this,
          &CDialog_redactar_msj::LoadSelectedProfile);
  // Counted as the limit counts: a line break is two.
  const auto count = [this, body_length = placed.body_length] {
    body_length->setText(QStringLiteral("%1 / %2")
                             .arg(LimitedTextEdit::Length(body_field_->toPlainText()))
                             .arg(kBodyLimit));
  };
  connect(body_field_, &QPlainTextEdit::textChanged, this, count);
  count();
}

void CDialog_redactar_msj::SetStoreStep(ComposeStoreStep store, std::function<void()> abandon) {
  store_ = std::move(store);
  abandon_ = std::move(abandon);
}

void CDialog_redactar_msj::reject() {
  if (waiting()) {
    if (runner_.ShowMessageBox(
            this,
            QStringLiteral("El mensaje todavía no se ha guardado: otro programa de Velkorant está "
                           "escribiendo en esta carpeta.\n\n¿ Descartar el mensaje que has "
                           "escrito ?"),
            QStringLiteral("Descartar mensaje"),
            kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes) {
      return;
    }
    if (abandon_)
      abandon_();
    TemplateDialog::reject();
    return;
  }
  const bool typed =
      subject_field_->text() != opened_subject_ || body_field_->FieldText() != opened_body_;
  if (typed &&
      runner_.ShowMessageBox(this, QStringLiteral("¿ Descartar el mensaje que has escrito ?"),
                             QStringLiteral("Descartar mensaje"),
                             kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes) {
    return;
  }
  TemplateDialog::reject();
}

void CDialog_redactar_msj::LoadSelectedProfile() {
  const int index = profile_list_->currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= profile_names_.size())
    return;
  // A listed profile without an entry has no password.
  const std::string& name = profile_names_[static_cast<std::size_t>(index)];
  const auto& entries = passwords_.entries();
  const auto entry = std::find_if(entries.begin(), entries.end(),
                                  [&name](const auto& e) { return e.profile_name == name; });
  password_field_->SetFieldText(StoredText(entry == entries.end() ? "" : entry->password));
}

void CDialog_redactar_msj::OnShowPassword() {
  ShowPasswordInClear(*password_field_, show_password_->isChecked());
}

void CDialog_redactar_msj::OnHelp() {
  runner_.ShowMessageBox(
      this,
      QStringLiteral(
          "Esta contraseña también la debe conocer el usuario receptor de este mensaje para que "
          "pueda descifrarlo.\n\nTanto emisor como receptor debéis establecer qué contraseña "
          "usaréis para vuestros mensajes encriptados.\n\nEvidentemente no podéis usar Velkorant "
          "para intercambiar contraseñas. Deberéis usar otro medio para tal fin, normalmente por "
          "eMail o en persona."),
      QStringLiteral("Contraseña de encriptación y desencriptación"), kBoxOkQuestion);
}

void CDialog_redactar_msj::Confirm(int result) {
  const int chosen = profile_list_->currentIndex();
  const std::string listed_name =
      chosen >= 0 && static_cast<std::size_t>(chosen) < profile_names_.size()
          ? profile_names_[static_cast<std::size_t>(chosen)]
          : std::string();
  FieldTaker taker(runner_, *this);
  std::string profile_name;
  std::string password;
  std::string receiver;
  std::string subject;
  std::string body;
  taker.Take(*profile_list_, "Perfil", listed_name, kProfileNameLimit, profile_name)
      .Take(*password_field_, "Contraseña", ToAnsi(password_field_->text()), kPasswordLimit,
            password)
      .Take(*receiver_field_, "Usuario receptor", ToAnsi(receiver_field_->text()), kReceiverLimit,
            receiver)
      .Take(*subject_field_, "Asunto", ToAnsi(subject_field_->text()), kSubjectLimit, subject)
      .Take(*body_field_, "Mensaje", ToAnsi(body_field_->FieldText()), kBodyLimit, body);
  if (!taker.ok())
    return;
  profile_name_ = std::move(profile_name);
  password_ = std::move(password);
  receiver_ = std::move(receiver);
  subject_ = std::move(subject);
  body_ = std::move(body);
  if (!ValidateMessage() || !AcceptChangedCharacters(result == kDialogOk))
    return;
  if (!store_) {
    done(result);
    return;
  }
  SetWaiting(true);
  store_([dialog = QPointer<CDialog_redactar_msj>(this), result](std::optional<QString> problem) {
    if (!dialog || !dialog->waiting())
      return;  // left meanwhile
    dialog->SetWaiting(false);
    if (!problem) {
      dialog->done(result);
      return;
    }
    dialog->runner_.ShowMessageBox(
        dialog,
        QStringLiteral("No se ha podido guardar el mensaje; sigue aquí, sin enviar, para que no "
                       "se pierda.\n\nMotivo: %1")
            .arg(*problem),
        QStringLiteral("Error. No se ha podido guardar el mensaje"), kBoxOkQuestion);
  });
}

bool CDialog_redactar_msj::AcceptChangedCharacters(bool send) {
  QStringList changes;
  for (const QString& text :
       {receiver_field_->text(), subject_field_->text(), body_field_->FieldText()}) {
    AddChangedCharacters(text, changes);
  }
  if (changes.isEmpty())
    return true;
  QString listed = changes.mid(0, kChangesListed).join(u'\n');
  if (changes.size() > kChangesListed)
    listed += QStringLiteral("\n… y %1 más").arg(changes.size() - kChangesListed);
  const QString question =
      QStringLiteral(
          "Estos caracteres no se pueden guardar en el mensaje y cambiarán:\n\n%1\n\n"
          "¿ %2 el mensaje de todos modos ?")
          .arg(listed, send ? QStringLiteral("Guardar y enviar") : QStringLiteral("Guardar"));
  return runner_.ShowMessageBox(this, question, QStringLiteral("Caracteres que cambiarán"),
                                kBoxYesNoQuestion | kBoxDefaultSecond) == kAnswerYes;
}

bool CDialog_redactar_msj::ValidateMessage() {
  const auto refused =
      velkorant::ValidateMessage(receiver_, own_user_name_, subject_, body_, password_);
  if (!refused)
    return true;
  // Each check is known by its box's caption. A missing password is fixed by choosing a profile.
  const std::pair<const char*, QWidget*> named[] = {
      {"Falta el nombre de usuario", receiver_field_},
      {"Auto-mensaje", receiver_field_},
      {"Falta el asunto del mensaje", subject_field_},
      {"Falta el texto del mensaje", body_field_},
      {"Selecciona un perfil de contraseña", profile_list_}};
  const auto field = std::ranges::find(named, ToQString(refused->caption), [](const auto& pair) {
    return QString::fromUtf8(pair.first);
  });
  Refuse(runner_, *this, field == std::end(named) ? nullptr : field->second, *refused);
  return false;
}

}  // namespace velkorant
