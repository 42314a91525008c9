// SPDX-License-Identifier: GPL-3.0-or-later
// Two installations of the program talk through the local mailbox server over TLS, every step
// done through the main window and its dialogs as two people would: register, agree on a
// profile, write, receive (the tray icon telling while another window is in front), read and
// answer; a message under a profile the receiver lacks opens once it is added. The stores, the
// settings database and the server's files are checked where they hold what matters.

#include <QDir>
#include <QRegularExpression>

#include "app/tray_icon.h"
#include "crypto/digests.h"
#include "support/mailbox_server.h"
#include "view/message_commands.h"
#include "window.h"

namespace velkorant::testing {
namespace {

class ExchangeTest : public WindowTest {
 protected:
  void SetUp() override { ASSERT_FALSE(server_.server.empty()) << "no mailbox_server fixture"; }
  // Starts the program of `side`, with a tray icon whose notifications are kept.
  void Open(const Installation& side) {
    tray_.reset();
    side.Use();
    Start();
    tray_ = std::make_unique<TrayIcon>(*frame());
    QObject::connect(tray_.get(), &TrayIcon::notified,
                     [this](const QString&, const QString& text) { notes_ << text; });
  }
  // Receives while this window or another one is in front.
  void Receive(bool in_front) {
    QWidget elsewhere;
    ASSERT_TRUE(Activate(in_front ? *static_cast<QWidget*>(frame()) : elsewhere));
    notes_.clear();
    Press(kIdReceive);
    // The run's lines, from the worker, in the order it wrote them.
    EXPECT_TRUE(Terminal().contains(
        QRegularExpression("Comprobando mensajes para .*\\n.* nuevos mensajes.*$")))
        << Terminal().toStdString();
    EXPECT_TRUE(Get(kIdEnvelopeNews)->isVisibleTo(view()));  // the envelope of new messages
  }
  // The files of a user's mailbox on the server.
  static QString Mailbox(const QString& user) {
    return QString(VELKORANT_BINARY_DIR "/mailbox-server-state/data/") +
           MailboxFolderName(user.toStdString()).c_str();
  }
  ServerAddress server_ = LocalMailboxServer();
  ScopedCaBundle ca_{server_.ca};
  std::unique_ptr<TrayIcon> tray_;
  QStringList notes_;
};

TEST_F(ExchangeTest, TwoInstallationsTalkThroughTheirWindows) {
  Installation& ana = home_;
  Installation bruno("bruno");
  const QString ana_name = ("ana_" + RandomFolder()).c_str(),
                bruno_name = ("bruno_" + RandomFolder()).c_str();
  const QString club = "Club de lectura", secret = "Solo nosotros";
  for (const auto& [side, name] : {std::pair(&ana, ana_name), std::pair(&bruno, bruno_name)}) {
    runner_.steps.push_back([](QDialog& legal_notice) { Click(legal_notice, 1); });
    Open(*side);
    EXPECT_FALSE(Get(kIdReceive)->isEnabled());
    Fill(kCommandPreferences, {{kIdUserName, name}, {kIdServerName, server_.server.c_str()}});
    EXPECT_TRUE(Get(kIdReceive)->isEnabled());
    Fill(kIdProfiles, {{kIdProfileName, club}, {kIdProfilePassword, U("contraseña del club")}});
    // Kept as the one saved last too, which the dialog opens on next time.
    EXPECT_EQ(ReadProfile(view()->settings_store(), kReservedProfileName).profile->name,
              ToAnsi(club));
  }

  // Ana writes.
  Open(ana);
  Fill(kIdCompose, {{kIdReceiver, bruno_name},
                    {kIdSubject, U("¿Cenamos?")},
                    {kIdBody, U("El viernes.\nTraigo el libro.")},
                    {kIdComposeProfile, "Club"}});
  ASSERT_EQ(QDir(Mailbox(bruno_name)).entryList(QDir::Files), QStringList{"msj_1_datos.cry"});

  // Bruno receives in the background, reads it and answers.
  Open(bruno);
  Receive(false);
  EXPECT_EQ(notes_, QStringList{"Tienes 1 mensaje sin leer."});
  EXPECT_EQ(tray_->toolTip(), "Velkorant: 1 mensaje sin leer");
  EXPECT_EQ(Column(kColumnSubject) + Column(kColumnSender),
            QStringList({U("¿Cenamos?"), ana_name}));
  EXPECT_EQ(Colour("r1"), RowColour::kUnread);
  ClickRow("r1");
  EXPECT_TRUE(Pane().contains("Traigo el libro.")) << Pane().toStdString();
  EXPECT_EQ(tray_->toolTip(), "Velkorant: no hay mensajes sin leer");
  runner_.steps.push_back([&](QDialog& compose) {
    EXPECT_EQ(Text(compose, kIdReceiver) + "|" + Text(compose, kIdSubject) + "|" +
                  Text(compose, kIdComposeProfile),
              ana_name + U("|Re: ¿Cenamos?|") + club);
    Type(compose, kIdBody, U("Perfecto, allí estaré."));
    Click(compose, kDialogOk);
  });
  Press(kIdReply);
  EXPECT_EQ(Cell("r1", kColumnReplied) + Cell("e1", kColumnReplied), "R ");

  // Ana, at her window, receives the answer: no notification.
  Open(ana);
  Receive(true);
  EXPECT_EQ(notes_, QStringList{});
  ClickRow("r1");
  EXPECT_TRUE(Pane().contains(U("Perfecto, allí estaré.")));
  // A message under a profile Bruno does not have yet opens once he adds it.
  Fill(kIdProfiles, {{kIdProfileName, secret}, {kIdProfilePassword, "otra clave secreta"}});
  Fill(kIdCompose, {{kIdReceiver, bruno_name},
                    {kIdSubject, "Privado"},
                    {kIdBody, U("Nadie más lo lee.")},
                    {kIdComposeProfile, "Solo"}});
  Open(bruno);
  Receive(false);
  EXPECT_EQ(notes_, QStringList{"Han llegado mensajes que no se han podido desencriptar."});
  EXPECT_EQ(tray_->toolTip(), "Velkorant: no hay mensajes sin leer");  // none it could open
  EXPECT_EQ(Cell("r2", kColumnSubject), "<sin desencriptar>");
  EXPECT_EQ(Colour("r2"), RowColour::kUndecrypted);
  Fill(kIdProfiles, {{kIdProfileName, secret}, {kIdProfilePassword, "otra clave secreta"}});
  EXPECT_EQ(Cell("r2", kColumnSubject) + " " + Cell("r2", kColumnSender), "Privado " + ana_name);
  ClickRow("r2");
  EXPECT_TRUE(Pane().contains(U("Nadie más lo lee.")));
}

}  // namespace
}  // namespace velkorant::testing
