// The tray icon, built against a running main window even where the desktop has no tray: its
// tooltip counts the unread messages, its picture follows the envelope, and a receive run with
// new messages notifies only while the program is in the background.

#include "app/tray_icon.h"

#include <QSystemTrayIcon>

#include "main_window_fixture.h"
#include "ui/pictures.h"

namespace velkorant::testing {
namespace {

class TrayIconTest : public MainWindowTest {
 protected:
  void TearDown() override {
    tray_.reset();
    MainWindowTest::TearDown();
  }
  void StartWithTray() {
    Start();
    tray_ = std::make_unique<TrayIcon>(*frame());
    QObject::connect(tray_.get(), &TrayIcon::notified, tray_.get(),
                     [this](const QString& title, const QString& text) {
                       notifications_ << title + QStringLiteral(" | ") + text;
                     });
  }
  // What a receive run does on the window once it has stored new messages.
  void FinishReceiveRunWith(const std::vector<Message>& fresh) {
    StoreMessages(fresh);
    view()->SetStatusIcon(3);
    view()->ReloadMessages();
  }
  QImage TrayPicture() const {
    return tray_->tray()
        .icon()
        .pixmap(QSize(42, 30))
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
  }

  std::unique_ptr<TrayIcon> tray_;
  QStringList notifications_;
};

TEST_F(TrayIconTest, TooltipCountsUnreadDecryptedMessagesAndFollowsReading) {
  WriteSettings();
  StoreMessages({Sent("Luis_Marin_1", "enviado", "2024-01-01 10:00:00", true),
                 Received("Luis_Marin_1", "uno", "2024-01-02 10:00:00", false),
                 Received("Luis_Marin_1", "dos", "2024-01-03 10:00:00", false),
                 Received("Luis_Marin_1", "leído", "2024-01-04 10:00:00", true),
                 // An undecrypted message cannot be read, so it is not waiting to be.
                 Received("Luis_Marin_1", "cifrado", "2024-01-05 10:00:00", false, false)});
  StartWithTray();
  EXPECT_EQ(tray_->toolTip(), QStringLiteral("Velkorant: 2 mensajes sin leer"));
  ClickRow(QStringLiteral("r1"));
  EXPECT_EQ(tray_->toolTip(), QStringLiteral("Velkorant: 1 mensaje sin leer"));
  ClickRow(QStringLiteral("r2"));
  EXPECT_EQ(tray_->toolTip(), QStringLiteral("Velkorant: no hay mensajes sin leer"));
}

TEST_F(TrayIconTest, PictureIsTheEnvelopeOfEachState) {
  WriteSettings();
  StartWithTray();
  // States 1 to 4 and the envelope pictures the main view shows for them.
  const std::vector<std::pair<int, const char*>> states = {
      {2, "157"}, {3, "158"}, {4, "156"}, {1, "155"}};
  for (const auto& [state, picture] : states) {
    view()->SetStatusIcon(state);
    EXPECT_EQ(tray_->status(), state);
    EXPECT_EQ(TrayPicture(), LoadPicture(QString::fromLatin1(picture), QSize(42, 30))
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32))
        << state;
  }
}

TEST_F(TrayIconTest, NewMessagesNotifyOnlyWhileTheProgramIsInTheBackground) {
  WriteSettings();
  StartWithTray();
  frame()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame()));
  FinishReceiveRunWith({Received("Luis_Marin_1", "uno", "2024-01-02 10:00:00", false)});
  QTest::qWait(0);
  QCoreApplication::processEvents();
  EXPECT_TRUE(notifications_.isEmpty()) << "the user is looking at the window";

  QWidget elsewhere;
  elsewhere.show();
  elsewhere.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
  FinishReceiveRunWith({Received("Luis_Marin_1", "dos", "2024-01-03 10:00:00", false),
                        Received("Luis_Marin_1", "tres", "2024-01-04 10:00:00", false)});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !notifications_.isEmpty(); }, 2000));
  EXPECT_EQ(
      notifications_,
      QStringList{QStringLiteral("Velkorant: mensajes nuevos | Tienes 3 mensajes sin leer.")});
  EXPECT_EQ(tray_->toolTip(), QStringLiteral("Velkorant: 3 mensajes sin leer"));
  // Other envelope states never notify.
  notifications_.clear();
  view()->SetStatusIcon(2);
  view()->SetStatusIcon(4);
  QCoreApplication::processEvents();
  EXPECT_TRUE(notifications_.isEmpty());
  elsewhere.hide();
}

TEST_F(TrayIconTest, UndecryptedNewMessagesAreNotCalledUnread) {
  WriteSettings();
  StartWithTray();
  QWidget elsewhere;
  elsewhere.show();
  elsewhere.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
  FinishReceiveRunWith({Received("Luis_Marin_1", "cifrado", "2024-01-05 10:00:00", false, false)});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !notifications_.isEmpty(); }, 2000));
  EXPECT_TRUE(notifications_[0].endsWith(
      QStringLiteral("Han llegado mensajes que no se han podido desencriptar.")));
  elsewhere.hide();
}

}  // namespace
}  // namespace velkorant::testing
