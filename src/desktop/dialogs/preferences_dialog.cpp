// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/preferences_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "common/ui_services.h"
#include "settings/preferences_rules.h"
#include "ui/dialog_runner.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

constexpr int kNameLimit = static_cast<int>(kUserNameLimit);
constexpr int kTextLimit = static_cast<int>(kPreferencesTextLimit);

}  // namespace

CDialog_preferencias::CDialog_preferencias(SettingsStore& store, DialogRunner& runner,
                                           std::function<void(int)> play_sound, QWidget* parent)
    : TemplateDialog(kPreferencesDialogId, QStringLiteral("Preferencias"), 233, 208, parent),
      store_(store),
      runner_(runner),
      play_sound_(std::move(play_sound)) {
  PlaceGroup(*this, QStringLiteral("Usuario local"), {9, 10, 210, 47});
  // The fields before their labels, which name them; the order of the fields is the Tab order.
  user_name_ = PlaceField(*this, kIdUserName, kNameLimit, {88, 20, 83, 13});
  PlaceLabel(*this, kIdUserNameLabel, QStringLiteral("&Tu nombre de usuario:"), {8, 22, 78, 9},
             Qt::AlignRight, user_name_);
  PlaceFramedLabel(*this, 0, QStringLiteral("No podrás\ncambiarlo"), {175, 17, 39, 18});
  user_comment_ = PlaceField(*this, kIdUserComment, kTextLimit, {54, 38, 162, 13});
  user_comment_->setAccessibleName(QStringLiteral("Comentario del usuario"));
  PlaceLabel(*this, kIdUserCommentLabel, QStringLiteral("&Comentario:"), {10, 39, 42, 9},
             Qt::AlignRight, user_comment_);

  PlaceGroup(*this, QStringLiteral("Servidor remoto"), {9, 60, 210, 58});
  server_name_ = PlaceField(*this, kIdServerName, kTextLimit, {44, 71, 171, 13});
  server_name_->setAccessibleName(QStringLiteral("Nombre del servidor"));
  PlaceLabel(*this, 0, QStringLiteral("&Nombre:"), {14, 73, 29, 8}, Qt::AlignLeft, server_name_);
  PlaceLabel(*this, 0, QStringLiteral("Por defecto: ") + ToQString(kDefaultServerAddress),
             {14, 85, 195, 10});
  QPushButton* help = PlaceHelpButton(*this, kIdServerHelp, {202, 85, 13, 12},
                                      QStringLiteral("Ayuda sobre usar un servidor propio"));
  server_description_ = PlaceField(*this, kIdServerDescription, kTextLimit, {55, 99, 160, 13});
  server_description_->setAccessibleName(QStringLiteral("Descripción del servidor"));
  PlaceLabel(*this, 0, QStringLiteral("&Descripción:"), {14, 101, 40, 8}, Qt::AlignLeft,
             server_description_);

  PlaceGroup(*this, QStringLiteral("Aplicación"), {9, 121, 210, 57});
  receive_at_startup_ = PlaceCheckBox(*this, kIdReceiveAtStartup,
                                      QStringLiteral("&Recibir mensajes al iniciar la aplicación"),
                                      {16, 134, 141, 10});
  receive_every_30_minutes_ =
      PlaceCheckBox(*this, kIdReceiveEvery30Minutes,
                    QStringLiteral("Recibir mensajes cada &30 minutos"), {16, 148, 123, 10});
  play_sounds_ =
      PlaceCheckBox(*this, kIdPlaySounds, QStringLiteral("Reproducir &sonidos"), {16, 162, 76, 10});

  delete_user_ =
      PlaceButton(*this, kIdDeleteUser, QStringLiteral("Eliminar este usuario"), {4, 183, 80, 14});
  delete_user_->setEnabled(false);
  QPushButton* ok = PlaceButton(*this, kDialogOk, QStringLiteral("OK"), {109, 183, 42, 14});
  ok->setDefault(true);
  QPushButton* cancel =
      PlaceButton(*this, kDialogCancel, QStringLiteral("Cancelar"), {176, 183, 50, 14});

  // Opening.
  const auto loaded = LoadPreferences(store_);
  opened_ = loaded.has_value();
  loaded_ = loaded.value_or(Preferences{});
  user_name_->SetFieldText(StoredText(loaded_.user_name));
  user_comment_->SetFieldText(StoredText(loaded_.user_comment));
  server_name_->SetFieldText(StoredText(loaded_.server_name));
  server_description_->SetFieldText(StoredText(loaded_.server_description));
  receive_at_startup_->setChecked(loaded_.receive_at_startup != 0);
  receive_every_30_minutes_->setChecked(loaded_.receive_every_30_minutes != 0);
  play_sounds_->setChecked(loaded_.play_sounds != 0);
  user_name_->setFocus(Qt::OtherFocusReason);
  // A name is chosen once; only "Eliminar este usuario" forgets it.
  if (!loaded_.user_name.empty()) {
    user_name_->setReadOnly(true);
    delete_user_->setEnabled(true);
  }

  connect(ok, &QPushButton::clicked, this, &CDialog_preferencias::OnOK);
  connect(delete_user_, &QPushButton::clicked, this, &CDialog_preferencias::OnDeleteUser);
  connect(help, &QPushButton::clicked, this, &CDialog_preferencias::OnServerHelp);
  connect(cancel, &QPushButton::clicked, this, &CDialog_preferencias::reject);
}

bool CDialog_preferencias::TakeFields() {
  Preferences taken;
  FieldTaker taker(runner_, *this);
  taker
      .Take(*user_name_, "Tu nombre de usuario", ToAnsi(user_name_->text()), kNameLimit,
            taken.user_name)
      .Take(*user_comment_, "Comentario", ToAnsi(user_comment_->text()), kTextLimit,
            taken.user_comment)
      .Take(*server_name_, "Nombre del servidor", ToAnsi(server_name_->text()), kTextLimit,
            taken.server_name)
      .Take(*server_description_, "Descripción", ToAnsi(server_description_->text()), kTextLimit,
            taken.server_description);
  if (!taker.ok())
    return false;
  taken.receive_at_startup = receive_at_startup_->isChecked() ? 1 : 0;
  taken.receive_every_30_minutes = receive_every_30_minutes_->isChecked() ? 1 : 0;
  taken.play_sounds = play_sounds_->isChecked() ? 1 : 0;
  edited_ = std::move(taken);
  return true;
}

void CDialog_preferencias::OnOK() {
  if (!TakeFields())
    return;
  if (const auto refused = ValidatePreferences(edited_)) {
    // The user name is checked before the server name.
    const bool name = refused->caption == "Falta tu nombre de usuario";
    Refuse(runner_, *this, name ? user_name_ : server_name_, *refused);
    return;
  }
  // A first name's counter starts over with it, in the same write: the name must never be
  // registered on the server with an old counter, nor with no name kept here.
  const auto counter = loaded_.user_name.empty() ? std::optional<std::int32_t>(0) : std::nullopt;
  if (!SavePreferences(store_, edited_, counter)) {
    ShowSettingsFailure(runner_, this, store_, false);
    return;
  }
  done(kDialogOk);
}

void CDialog_preferencias::OnDeleteUser() {
  if (!TakeFields())
    return;
  if (loaded_.play_sounds != 0 && play_sound_)
    play_sound_(static_cast<int>(EventSound::kDeleteUser));
  const QString question =
      QStringLiteral(
          "Eliminar el usuario %1\nSi eliminas este nombre de usuario:\n\n"
          "· No perderás los mensajes ya recibidos para este nombre de usuario.\n"
          "· No recibirás más mensajes dirigidos a este nombre de usuario.\n"
          "· Por seguridad, nunca más podrás usar este nombre de usuario (ni tú ni nadie).\n"
          "· Podrás elegir otro nombre diferente de usuario.\n\n"
          "¿ Quieres eliminar definitivamente este nombre de usuario ?")
          .arg(ToQString(edited_.user_name));
  if (runner_.ShowMessageBox(this, question, QStringLiteral("Eliminar usuario"),
                             kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes) {
    return;
  }
  edited_.user_name.clear();
  if (!SavePreferences(store_, edited_)) {
    ShowSettingsFailure(runner_, this, store_, false);
    return;
  }
  done(kDialogOk);
}

void CDialog_preferencias::OnServerHelp() {
  runner_.ShowMessageBox(
      this,
      QStringLiteral(
          "Velkorant te permite usar tu propio servidor: puedes instalar en él, gratis, el "
          "servidor de buzones en formato 'php' que viene con Velkorant.\n\nLo encontrarás en "
          "la carpeta 'mailbox-server' (instalada en /usr/share/velkorant/mailbox-server); tu "
          "servidor necesita PHP y HTTPS.\n\nLee el archivo README de esa carpeta para "
          "conseguir más información sobre cómo instalarlo."),
      QStringLiteral("Usar tu propio servidor"), kBoxOkQuestion);
}

}  // namespace velkorant
