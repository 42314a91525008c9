// One program per folder: the instance channel's name, its claim, and later starts of the real
// program asking the running one (in this test process) to come to the front or to receive.

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include "app/program_start.h"
#include "app/single_instance.h"
#include "main_window_fixture.h"
#include "program_process.h"

namespace velkorant::testing {
namespace {

using Request = InstanceChannel::Request;

TEST(InstanceChannelTest, NameFollowsTheFolderWhateverPathLeadsToIt) {
  QTemporaryDir root;
  ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("a")));
  ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("b")));
  const QString a = root.filePath(QStringLiteral("a"));
  ASSERT_TRUE(QFile::link(a, root.filePath(QStringLiteral("link"))));

  EXPECT_EQ(InstanceChannel::NameFor(a), InstanceChannel::NameFor(root.filePath("link")));
  EXPECT_EQ(InstanceChannel::NameFor(a), InstanceChannel::NameFor(a + QStringLiteral("/./")));
  EXPECT_NE(InstanceChannel::NameFor(a), InstanceChannel::NameFor(root.filePath("b")));
  const QString name = InstanceChannel::NameFor(a);
  // In the user's own runtime folder, and short enough for a socket address.
  EXPECT_TRUE(name.startsWith(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)));
  EXPECT_LT(QFile::encodeName(name).size(), 100);
}

TEST(InstanceChannelTest, AFolderIsClaimedOnceUntilItsHolderLetsGo) {
  QTemporaryDir root;
  ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("other")));
  auto first = std::make_unique<InstanceChannel>(root.path());
  ASSERT_TRUE(first->Claim({}));
  InstanceChannel second(root.path());
  EXPECT_FALSE(second.Claim({}));
  InstanceChannel elsewhere(root.filePath(QStringLiteral("other")));
  EXPECT_TRUE(elsewhere.Claim({}));
  first.reset();
  EXPECT_TRUE(second.Claim({}));
}

TEST(InstanceChannelTest, AProgramKilledOutrightLeavesNothingThatKeepsTheFolder) {
  Installation installation;
  WriteSettings();
  QProcess first;
  StartProgram(first, installation.work(), {});
  const QString name = InstanceChannel::NameFor(installation.work());
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(name); }, 20000))
      << first.readAll().toStdString();
  ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
  ASSERT_TRUE(first.waitForFinished(10000));
  ASSERT_TRUE(QFile::exists(name)) << "the killed program's socket file stays behind";

  InstanceChannel channel(installation.work());
  int activations = 0;
  ASSERT_TRUE(channel.Claim([&](Request request) {
    activations += request == Request::kActivate;
    return true;
  }));
  const ProgramRun later = RunProgram(installation.work(), {});
  ASSERT_TRUE(later.finished);
  EXPECT_EQ(later.exit_code, 0) << later.output.toStdString();
  EXPECT_EQ(activations, 1);
}

class SecondStartTest : public MainWindowTest {
 protected:
  void Claim() {
    channel_ = std::make_unique<InstanceChannel>(installation_.work());
    ASSERT_TRUE(channel_->Claim(
        [this](Request request) { return AnswerInstanceRequest(app_.get(), request); }));
  }
  std::unique_ptr<InstanceChannel> channel_;
};

TEST_F(SecondStartTest, BringsTheFirstWindowToTheFrontAndExits) {
  WriteSettings();
  Start();
  Claim();
  // The user went on elsewhere and minimised the program.
  QWidget elsewhere;
  elsewhere.show();
  elsewhere.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
  frame()->showMinimized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame()->isMinimized(); }, 5000));
  const QStringList before = QDir(installation_.work()).entryList(QDir::Files);

  const ProgramRun second = RunProgram(installation_.work(), {});
  ASSERT_TRUE(second.finished);
  EXPECT_EQ(second.exit_code, 0) << second.output.toStdString();
  EXPECT_TRUE(second.output.contains(QStringLiteral("already open")))
      << second.output.toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame()->isActiveWindow(); }, 5000));
  EXPECT_FALSE(frame()->isMinimized());
  // The second start made no stores or other files of its own.
  EXPECT_EQ(QDir(installation_.work()).entryList(QDir::Files), before);
  elsewhere.hide();
}

TEST_F(SecondStartTest, AStartInAnotherFolderRunsOnItsOwn) {
  WriteSettings();
  Start();
  Claim();
  QTemporaryDir other;
  QProcess second;
  StartProgram(second, other.path(), {});
  // It claims its own folder and keeps running; this window is not asked for anything.
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(InstanceChannel::NameFor(other.path())); },
                              20000));
  EXPECT_EQ(second.state(), QProcess::Running);
  second.kill();
  second.waitForFinished(10000);
}

TEST_F(SecondStartTest, ReceiveAsksTheOpenWindowAndWaitsForItsRun) {
  // Nobody listens on port 1 of this machine: the run's first request fails at once.
  SampleSettings sample;
  sample.server = "localhost:1/velkorant/";
  WriteSettings(sample);
  const ProgramRun alone = RunProgram(installation_.work(), {QStringLiteral("--receive")});
  ASSERT_TRUE(alone.finished);
  EXPECT_EQ(alone.exit_code, 1);
  EXPECT_TRUE(alone.output.contains(QStringLiteral("no Velkorant window is open")))
      << alone.output.toStdString();

  Start();
  Claim();
  const int lines_before = static_cast<int>(TerminalLines().size());
  const ProgramRun asked = RunProgram(installation_.work(), {QStringLiteral("--receive")});
  ASSERT_TRUE(asked.finished);
  EXPECT_EQ(asked.exit_code, 0) << asked.output.toStdString();
  // The window's own run wrote its lines and showed its box before the answer came.
  EXPECT_GT(TerminalLines().size(), lines_before);
  ASSERT_FALSE(runner_.events.empty());
  EXPECT_EQ(runner_.events.back().caption, QStringLiteral("Error de conexión."));
}

TEST_F(SecondStartTest, ReceiveIsRefusedWhileTheWindowHasNoUserName) {
  SampleSettings sample;
  sample.user_name.clear();
  WriteSettings(sample);
  Start();
  Claim();
  const QStringList lines_before = TerminalLines();
  const ProgramRun asked = RunProgram(installation_.work(), {QStringLiteral("--receive")});
  ASSERT_TRUE(asked.finished);
  EXPECT_EQ(asked.exit_code, 1);
  EXPECT_TRUE(asked.output.contains(QStringLiteral("no user name"))) << asked.output.toStdString();
  EXPECT_EQ(TerminalLines(), lines_before);
}

}  // namespace
}  // namespace velkorant::testing
