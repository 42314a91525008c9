// A real receive run against the local mailbox server, while another window is active: the tray
// notifies once with the new unread count, although the run brings the main window to the front.

#include <QPushButton>

#include "app/tray_icon.h"
#include "server_window_fixture.h"
#include "settings/password_profiles.h"

namespace velkorant::testing {
namespace {

constexpr const char* kPassword = "clave compartida";

class TrayReceiveTest : public ServerWindowTest {
 protected:
  void SetUp() override { RegisterUser("bandeja_"); }
  void TearDown() override {
    tray_.reset();
    ServerWindowTest::TearDown();
  }
  std::unique_ptr<TrayIcon> tray_;
};

TEST_F(TrayReceiveTest, ARunWithNewMessagesInTheBackgroundNotifiesOnce) {
  WriteUserSettings(kPassword);
  Post("primero", kPassword);
  Post("segundo", kPassword);
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
