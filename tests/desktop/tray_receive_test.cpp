// A real receive run against the local mailbox server, while another window is active: the tray
// notifies once with the new unread count, although the run brings the main window to the front.

#include <QPushButton>

#include "app/tray_icon.h"
#include "main_window_fixture.h"
#include "server/mailbox_client.h"
#include "settings/password_profiles.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"

namespace velkorant::testing {
namespace {

constexpr const char* kPassword = "clave compartida";

class TrayReceiveTest : public MainWindowTest {
 protected:
  void SetUp() override {
    server_ = LocalMailboxServer();
    ASSERT_FALSE(server_.server.empty()) << "the mailbox_server fixture did not run";
    ca_ = std::make_unique<ScopedCaBundle>(server_.ca);
    settings_.user_name = "bandeja_" + RandomFolder();
    settings_.server_name = server_.server;
    RecordingUi quiet;
    MailboxClient client(settings_, quiet, downloader_, ".");
    ASSERT_TRUE(client.CreateMailbox(settings_.user_name));
  }
  void TearDown() override {
    tray_.reset();
    MainWindowTest::TearDown();
  }
  void Post(const std::string& subject) {
    RecordingUi quiet;
    MailboxClient sender(settings_, quiet, downloader_, ".");
    Message record = Received("Ana_garcia", subject, "2024-03-07 09:05:00", false);
    record.usuario_receptor_msj = settings_.user_name;
    record.password_msj = kPassword;
    ASSERT_TRUE(sender.SendEncryptedMessage(record));
  }

  ServerAddress server_;
  std::unique_ptr<ScopedCaBundle> ca_;
  Settings settings_;
  UrlDownloader downloader_;
  std::unique_ptr<TrayIcon> tray_;
};

TEST_F(TrayReceiveTest, ARunWithNewMessagesInTheBackgroundNotifiesOnce) {
  SampleSettings sample;
  sample.user_name = settings_.user_name;
  sample.server = settings_.server_name;
  WriteSettings(sample);
  {
    SettingsStore store;
    PasswordProfile profile;
    profile.name = "Amigos";
    profile.password = kPassword;
    WriteProfile(store, profile.name, profile);
  }
  Post("primero");
  Post("segundo");
  Start();
  tray_ = std::make_unique<TrayIcon>(*frame());
  QStringList notifications;
  QObject::connect(tray_.get(), &TrayIcon::notified, tray_.get(),
                   [&](const QString&, const QString& text) { notifications << text; });
  QWidget elsewhere;
  elsewhere.show();
  elsewhere.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));

  Find<QPushButton>(1126)->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !notifications.isEmpty(); }, 5000));
  EXPECT_EQ(notifications, QStringList{QStringLiteral("Tienes 2 mensajes sin leer.")});
  EXPECT_EQ(tray_->toolTip(), QStringLiteral("Velkorant: 2 mensajes sin leer"));
  EXPECT_EQ(tray_->status(), 3);

  // A second run finds nothing new: no notification, whatever window is active.
  elsewhere.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
  Find<QPushButton>(1126)->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(notifications.size(), 1);
  EXPECT_EQ(tray_->status(), 2);
  elsewhere.hide();
}

}  // namespace
}  // namespace velkorant::testing
