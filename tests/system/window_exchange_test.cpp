// SPDX-License-Identifier: GPL-3.0-or-later
// Two installations of the program talk through the local mailbox server over TLS, every step
// done through the main window and its dialogs as two people would: register, agree on a
// profile, write, receive (the desktop told while another window is in front), read and
// answer; a message under a profile the receiver lacks opens once it is added. The stores, the
// settings database and the server's files are checked where they hold what matters.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QRegularExpression>

#include "app/tray_icon.h"
#include "crypto/digests.h"
#include "support/mailbox_server.h"
#include "support/private_keyring.h"
#include "view/message_commands.h"
#include "window.h"

namespace velkorant::testing {
namespace {

// The desktop's notification service, as it is called.
class Notifications : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
    calls << call.member() + ": " + call.arguments().value(3).toString() + " | " +
                 call.arguments().value(4).toString();
    return bus.send(call.createReply(1u));
  }
  QStringList calls;
};

class ExchangeTest : public WindowTest {
 protected:
  // The notification service is a stand-in on a private session bus.
  void SetUp() override {
    ASSERT_FALSE(local_.address.server.empty()) << "no mailbox_server fixture";
    ASSERT_GT(bus_.bus, 0) << "no private session bus: dbus-daemon is missing";
    QDBusConnection connection =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "service");
    ASSERT_TRUE(connection.registerVirtualObject("/org/freedesktop/Notifications", &notes_) &&
                connection.registerService("org.freedesktop.Notifications"));
  }
  void TearDown() override {
    WindowTest::TearDown();
    QDBusConnection::disconnectFromBus("service");
  }
  // Starts the program of `side`.
  void Open(const Installation& side) {
    side.Use();
    Start();
  }
  // Receives while this window or another one is in front, which keeps the focus.
  void Receive(bool in_front) {
    QWidget elsewhere;
    ASSERT_TRUE(Activate(in_front ? *static_cast<QWidget*>(frame()) : elsewhere));
    notes_.calls.clear();
    Press(kIdReceive);
    // The run's lines, from the worker, in the order it wrote them.
    EXPECT_TRUE(Terminal().contains(
        QRegularExpression("Comprobando mensajes para .*\\n.* nuevos mensajes.*$")))
        << Terminal().toStdString();
    EXPECT_TRUE(Get(kIdEnvelopeNews)->isVisibleTo(view()));  // the envelope of new messages
    EXPECT_FALSE(QTest::qWaitFor(
        [&] { return !in_front && QApplication::activeWindow() != &elsewhere; }, 500));
  }
  LocalServer local_;
  const PrivateBus bus_{"exchange"};
  Notifications notes_;
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
    Fill(kCommandPreferences,
         {{kIdUserName, name}, {kIdServerName, local_.address.server.c_str()}});
    EXPECT_TRUE(Get(kIdReceive)->isEnabled());
    Fill(kIdProfiles, {{kIdProfileName, club}, {kIdProfilePassword, U("contraseña del club")}});
    // Kept as the one saved last too, which the dialog opens on next time.
    EXPECT_EQ(ReadProfile(view()->settings_store(), kReservedProfileName).profile->name,
              ToAnsi(club));
  }

  // Ana writes.
  Open(ana);
  Fill(kIdCompose, Letter(bruno_name, U("¿Cenamos?"), U("El viernes.\nTraigo el libro."), "Club"));
  const auto mailbox = ServerDataRoot() / MailboxFolderName(bruno_name.toStdString());
  ASSERT_EQ(QDir(mailbox).entryList(QDir::Files), QStringList{"msj_1_datos.cry"});

  // Bruno receives in the background, reads it and answers.
  Open(bruno);
  Receive(false);
  const QString told = "Notify: Velkorant: mensajes nuevos | ";
  EXPECT_EQ(notes_.calls, QStringList{told + "Tienes 1 mensaje sin leer.\nDe: " + ana_name + "."});
  EXPECT_EQ(app_->tray_icon()->toolTip(), "Velkorant: 1 mensaje sin leer");
  EXPECT_EQ(Column(kColumnSubject) + Column(kColumnSender),
            QStringList({U("¿Cenamos?"), ana_name}));
  ClickRow("r1");
  EXPECT_TRUE(Pane().contains("Traigo el libro.")) << Pane().toStdString();
  EXPECT_EQ(app_->tray_icon()->toolTip(), "Velkorant: no hay mensajes sin leer");
  Fill(kIdReply, {{kIdBody, U("Perfecto, allí estaré.")}});  // to her, under the club's profile
  EXPECT_EQ(Cell("r1", kColumnReplied) + Cell("e1", kColumnReplied), "R ");

  // Ana, at her window, receives the answer: no notification.
  Open(ana);
  Receive(true);
  EXPECT_EQ(notes_.calls, QStringList{});
  ClickRow("r1");
  EXPECT_TRUE(Pane().contains(U("Perfecto, allí estaré.")));
  // A message under a profile Bruno does not have yet opens once he adds it.
  Fill(kIdProfiles, {{kIdProfileName, secret}, {kIdProfilePassword, "otra clave secreta"}});
  Fill(kIdCompose, Letter(bruno_name, "Privado", U("Nadie más lo lee."), "Solo"));
  Open(bruno);
  Receive(false);
  EXPECT_EQ(notes_.calls,
            QStringList{told + "Han llegado mensajes que no se han podido desencriptar."});
  Fill(kIdProfiles, {{kIdProfileName, secret}, {kIdProfilePassword, "otra clave secreta"}});
  EXPECT_EQ(Cell("r2", kColumnSubject) + " " + Cell("r2", kColumnSender), "Privado " + ana_name);
  ClickRow("r2");
  EXPECT_TRUE(Pane().contains(U("Nadie más lo lee.")));
}

}  // namespace
}  // namespace velkorant::testing
