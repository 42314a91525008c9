// The start of the desktop program: the launcher's per-user data folder, and the smoke test the
// package checks run, which must leave the user's folders alone.

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/data_folder.h"
#include "program_process.h"

namespace velkorant::testing {
namespace {

class EnvironmentOverride {
 public:
  EnvironmentOverride(const char* name, const QString& value) : name_(name) {
    had_ = qEnvironmentVariableIsSet(name);
    old_ = qgetenv(name);
    if (value.isNull()) {
      qunsetenv(name);
    } else {
      qputenv(name, QFile::encodeName(value));
    }
  }
  ~EnvironmentOverride() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

int ModeOf(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0)
    return -1;
  return static_cast<int>(info.st_mode & 07777);
}

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = QDir::currentPath(); }
  void TearDown() override { QDir::setCurrent(previous_); }
  QTemporaryDir root_;
  QString previous_;
};

TEST_F(DataFolderTest, FollowsXdgDataHomeOnlyWhenItIsAbsolute) {
  EnvironmentOverride home("HOME", root_.filePath(QStringLiteral("home")));
  {
    EnvironmentOverride data("XDG_DATA_HOME", root_.filePath(QStringLiteral("data")));
    EXPECT_EQ(UserDataFolder(), root_.filePath(QStringLiteral("data/velkorant")));
  }
  for (const QString& ignored : {QString(), QStringLiteral(""), QStringLiteral("relative/data")}) {
    EnvironmentOverride data("XDG_DATA_HOME", ignored);
    EXPECT_EQ(UserDataFolder(), root_.filePath(QStringLiteral("home/.local/share/velkorant")))
        << ignored.toStdString();
  }
}

TEST_F(DataFolderTest, IsCreatedPrivateWithItsParentsAndEntered) {
  EnvironmentOverride home("HOME", root_.filePath(QStringLiteral("home")));
  EnvironmentOverride data("XDG_DATA_HOME", QString());
  const mode_t old_mask = ::umask(022);
  QString error;
  const bool entered = EnterUserDataFolder(error);
  ::umask(old_mask);
  ASSERT_TRUE(entered) << error.toStdString();
  const QString folder = root_.filePath(QStringLiteral("home/.local/share/velkorant"));
  EXPECT_EQ(QDir::currentPath(), folder);
  EXPECT_EQ(ModeOf(folder), 0700);

  // A folder that exists is used as it is: the user may have opened it up on purpose.
  ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0750), 0);
  QDir::setCurrent(root_.path());
  ASSERT_TRUE(EnterUserDataFolder(error)) << error.toStdString();
  EXPECT_EQ(QDir::currentPath(), folder);
  EXPECT_EQ(ModeOf(folder), 0750);
}

TEST_F(DataFolderTest, AFileInTheWayIsAnErrorAndTheWorkingFolderStays) {
  EnvironmentOverride data("XDG_DATA_HOME", root_.path());
  QFile blocker(root_.filePath(QStringLiteral("velkorant")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  QDir::setCurrent(previous_);
  QString error;
  EXPECT_FALSE(EnterUserDataFolder(error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(QDir::currentPath(), previous_);
}

// --- The program's own options ---------------------------------------------------------------

QProcessEnvironment Isolated(const QTemporaryDir& root) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
  env.remove(QStringLiteral("XDG_DATA_HOME"));
  return env;
}

TEST(ProgramOptionsTest, SmokeTestPassesAndLeavesTheUsersFoldersAlone) {
  QTemporaryDir root;
  ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("work")));
  const ProgramRun run = RunProgram(root.filePath(QStringLiteral("work")),
                                    {QStringLiteral("--smoke-test")}, Isolated(root));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0) << run.output.toStdString();
  EXPECT_TRUE(run.output.contains(QStringLiteral("smoke test passed"))) << run.output.toStdString();
  // Neither the working folder nor the settings folder got anything.
  EXPECT_TRUE(QDir(root.filePath(QStringLiteral("work"))).isEmpty());
  EXPECT_FALSE(QFile::exists(root.filePath(QStringLiteral("config"))));
}

TEST(ProgramOptionsTest, TheLaunchersLineMakesThePrivateDataFolder) {
  QTemporaryDir root;
  ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("elsewhere")));
  const ProgramRun run =
      RunProgram(root.filePath(QStringLiteral("elsewhere")),
                 {QStringLiteral("--data-folder"), QStringLiteral("--smoke-test")}, Isolated(root));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0) << run.output.toStdString();
  EXPECT_EQ(ModeOf(root.filePath(QStringLiteral("home/.local/share/velkorant"))), 0700);
}

TEST(ProgramOptionsTest, UnknownArgumentsAreRefusedAndHelpNeedsNoDisplay) {
  QTemporaryDir root;
  const ProgramRun wrong =
      RunProgram(root.path(), {QStringLiteral("--data-foldr")}, Isolated(root));
  EXPECT_EQ(wrong.exit_code, 2);
  EXPECT_TRUE(wrong.output.contains(QStringLiteral("unknown argument --data-foldr")));

  QProcessEnvironment no_display = Isolated(root);
  no_display.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  no_display.remove(QStringLiteral("DISPLAY"));
  no_display.remove(QStringLiteral("WAYLAND_DISPLAY"));
  QProcess help;
  help.setProcessEnvironment(no_display);
  help.setProcessChannelMode(QProcess::MergedChannels);
  help.start(QStringLiteral(VELKORANT_PROGRAM), {QStringLiteral("--help")});
  ASSERT_TRUE(help.waitForFinished(10000));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_TRUE(help.readAll().contains("--data-folder"));
}

}  // namespace
}  // namespace velkorant::testing
