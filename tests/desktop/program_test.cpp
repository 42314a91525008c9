// One program per folder: a later start brings the open window to the front, and --receive asks
// it to receive; new messages in the background are announced by the desktop. (The other
// options are tried on the installed program by install_test.sh.)

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QProcess>

#include "app/program_start.h"
#include "app/single_instance.h"
#include "window.h"

namespace velkorant::testing {
namespace {

// The built program's exit code and output, run in `folder` while this process goes on serving
// its own window.
std::pair<int, QString> RunProgram(const QString& folder, const QStringList& args) {
  QProcess process;
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(VELKORANT_PROGRAM, args);
  if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
    process.kill();
  process.waitForFinished();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAll()};
}

TEST_F(WindowTest, LaterStartsInTheFolderAskTheOpenWindow) {
  WriteSettings();
  const QString work = home_.work().c_str();
  EXPECT_EQ(RunProgram(work, {"--receive"}).first, 1);  // no window open here
  Start();
  InstanceChannel channel(work);
  ASSERT_TRUE(
      channel.Claim([this](auto request) { return AnswerInstanceRequest(app_.get(), request); }));
  QWidget elsewhere;  // the user went on elsewhere and minimised the program
  ASSERT_TRUE(Activate(elsewhere));
  frame()->showMinimized();
  const auto [code, output] = RunProgram(work, {});
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(output.contains("already open")) << output.toStdString();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return frame()->isActiveWindow() && !frame()->isMinimized(); }, 5000));
  elsewhere.hide();
  EXPECT_EQ(RunProgram(work, {"--receive"}).first, 0);  // once the window's own run is over
  WaitForFlows();
  EXPECT_EQ(runner_.Captions(), QStringList{U("Error de conexión.")});
  WriteSettings({.user = ""});  // refused, as the button is, without a user name
  view()->ReloadSettings();
  EXPECT_TRUE(RunProgram(work, {"--receive"}).second.contains("no user name"));
  EXPECT_EQ(runner_.events.size(), 1u);
}

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

// Without a tray (as offscreen), through a stand-in service on a private session bus.
TEST_F(WindowTest, NewMessagesInTheBackgroundAreAnnounced) {
  QProcess bus;
  bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
  if (!bus.waitForReadyRead(5000))
    GTEST_SKIP() << "no private session bus: dbus-daemon (Debian's package dbus-daemon) is missing";
  const QString address = bus.readLine().trimmed();
  qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  Notifications service;
  QDBusConnection connection = QDBusConnection::connectToBus(address, "service");
  ASSERT_TRUE(connection.registerVirtualObject("/org/freedesktop/Notifications", &service) &&
              connection.registerService("org.freedesktop.Notifications"));
  WriteSettings();
  Store({Msg('u', "Ana", "nuevo", "2024-03-01")});
  Start();
  QWidget elsewhere;
  ASSERT_TRUE(Activate(elsewhere));
  view()->SetStatusIcon(static_cast<int>(StatusIcon::kNewMessages));  // as a receive run ends
  view()->ui_services().BringToFront();
  // It asks for attention; the focus stays where the user works.
  EXPECT_FALSE(QTest::qWaitFor([&] { return QApplication::activeWindow() != &elsewhere; }, 500));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !service.calls.empty(); }, 5000));
  EXPECT_EQ(service.calls,
            QStringList{"Notify: Velkorant: mensajes nuevos | Tienes 1 mensaje sin leer."});
  QDBusConnection::disconnectFromBus("service");
  bus.kill();
  bus.waitForFinished();
}

}  // namespace
}  // namespace velkorant::testing
