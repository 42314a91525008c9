// The program's start: one program per folder (a later start brings the open window to the front,
// --receive asks it to receive), the launcher's private data folder, and the options.

#include <sys/stat.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/program_start.h"
#include "app/single_instance.h"
#include "window.h"

namespace velkorant::testing {
namespace {

// The built program's exit code and output, run in `folder` while this process goes on serving
// its own window.
std::pair<int, QString> RunProgram(
    const QString& folder, const QStringList& args,
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(VELKORANT_PROGRAM, args);
  if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
    process.kill();
  process.waitForFinished();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAll()};
}

TEST(InstanceChannelTest, AFolderIsClaimedOnceWhateverPathLeadsToIt) {
  QTemporaryDir root;
  ASSERT_TRUE(QDir(root.path()).mkpath("a") &&
              QFile::link(root.filePath("a"), root.filePath("link")));
  // In the user's own runtime folder, short enough for a socket address.
  const QString name = InstanceChannel::NameFor(root.filePath("a/."));
  EXPECT_TRUE(name.startsWith(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)));
  EXPECT_LT(name.size(), 100);
  auto first = std::make_unique<InstanceChannel>(root.filePath("a"));
  ASSERT_TRUE(first->Claim({}));
  InstanceChannel second(root.filePath("link"));
  EXPECT_FALSE(second.Claim({}));
  EXPECT_TRUE(InstanceChannel(root.path()).Claim({}));  // another folder
  first.reset();
  EXPECT_TRUE(second.Claim({}));
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
  const QStringList files = QDir(work).entryList(QDir::Files | QDir::Hidden);
  const auto [code, output] = RunProgram(work, {});
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(output.contains("already open")) << output.toStdString();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return frame()->isActiveWindow() && !frame()->isMinimized(); }, 5000));
  EXPECT_EQ(QDir(work).entryList(QDir::Files | QDir::Hidden), files);  // no stores of its own
  elsewhere.hide();
  EXPECT_EQ(RunProgram(work, {"--receive"}).first, 0);  // once the window's own run is over
  EXPECT_EQ(runner_.Captions(), QStringList{U("Error de conexión.")});
  WriteSettings({.user = ""});  // refused, as the button is, without a user name
  view()->ReloadSettings();
  EXPECT_TRUE(RunProgram(work, {"--receive"}).second.contains("no user name"));
  EXPECT_EQ(runner_.events.size(), 1u);
}

// The package's checks run these: they must leave the user's folders alone.
TEST(ProgramOptionsTest, OptionsDoWhatTheHelpSays) {
  const std::tuple<QStringList, int, const char*> cases[] = {
      {{"--smoke-test"}, 0, "smoke test passed"},
      {{"--data-folder", "--smoke-test"}, 0, "smoke test passed"},
      {{"--data-foldr"}, 2, "unknown argument --data-foldr"},
      {{"--version"}, 0, "velkorant 1.1"},
      {{"--help"}, 0, "--data-folder"}};
  for (const auto& [args, exit_code, says] : cases) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("work"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", root.filePath("home"));
    env.insert("XDG_CONFIG_HOME", root.filePath("config"));
    env.remove("XDG_DATA_HOME");
    env.remove("DISPLAY");  // help and version need none: xcb without one fails
    env.insert("QT_QPA_PLATFORM", exit_code == 2 ? "offscreen" : "xcb");
    const auto [code, output] = RunProgram(root.filePath("work"), args, env);
    EXPECT_EQ(code, exit_code);
    EXPECT_TRUE(output.contains(says)) << output.toStdString();
    EXPECT_TRUE(QDir(root.filePath("work")).isEmpty() && !QDir(root.filePath("config")).exists());
    struct stat data {};
    const bool made =
        ::stat(QFile::encodeName(root.filePath("home/.local/share/velkorant")).constData(),
               &data) == 0;
    EXPECT_EQ(made ? data.st_mode & 0777u : 0u, args.contains("--data-folder") ? 0700u : 0u);
  }
}

}  // namespace
}  // namespace velkorant::testing
