// One program per folder: a later start brings the open window to the front, and --receive asks
// it to receive. (The other options are tried on the installed program by install_test.sh.)

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
  EXPECT_EQ(runner_.Captions(), QStringList{U("Error de conexión.")});
  WriteSettings({.user = ""});  // refused, as the button is, without a user name
  view()->ReloadSettings();
  EXPECT_TRUE(RunProgram(work, {"--receive"}).second.contains("no user name"));
  EXPECT_EQ(runner_.events.size(), 1u);
}

}  // namespace
}  // namespace velkorant::testing
