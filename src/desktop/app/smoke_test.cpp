// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/smoke_test.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "app/desktop_identity.h"
#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "settings/settings_store.h"
#include "ui/dialog_runner.h"
#include "ui/pictures.h"
#include "view/main_view.h"

namespace velkorant {
namespace {

// Nothing may pop up during the smoke test: every box or dialog is a failure.
class RefusingRunner final : public DialogRunner {
 public:
  int ShowMessageBox(QWidget*, const QString& text, const QString&, unsigned) override {
    shown << text;
    return kAnswerNo;
  }
  int RunModal(QDialog& dialog) override {
    shown << dialog.windowTitle();
    return 0;
  }
  QStringList shown;
};

struct Checker {
  QTextStream& out;
  int failures = 0;
  void operator()(bool ok, const QString& what) {
    if (!ok) {
      out << "smoke test: FAILED: " << what << Qt::endl;
      ++failures;
    }
  }
};

// The platform, and the pictures and sounds built into the program.
void CheckPlatformAndResources(Checker& check) {
  check(QGuiApplication::platformName() == QStringLiteral("offscreen"),
        QStringLiteral("platform is %1, not offscreen").arg(QGuiApplication::platformName()));
  for (const char* picture : {"128", "141", "153", "155", "156", "157", "158"}) {
    check(!LoadPicture(QString::fromLatin1(picture), QSize(42, 30)).isNull(),
          QStringLiteral("picture %1 does not render").arg(QString::fromLatin1(picture)));
  }
  for (int sound = 200; sound <= 206; ++sound) {
    check(QFile(QStringLiteral(":/sounds/%1.wav").arg(sound)).size() > 44,
          QStringLiteral("sound %1 is missing").arg(sound));
  }
}

// The main window once shown: its place, title, status bar, menu, view and identity.
void CheckMainWindow(CMainFrame& frame, Checker& check) {
  const QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired() &&
         (frame.windowHandle() == nullptr || !frame.windowHandle()->isExposed())) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  check(frame.isVisible() && frame.windowHandle() != nullptr && frame.windowHandle()->isExposed(),
        QStringLiteral("the main window is not shown"));
  check(frame.windowTitle() == QStringLiteral("Velkorant"),
        QStringLiteral("window title \"%1\"").arg(frame.windowTitle()));
  const QScreen& screen = *QGuiApplication::primaryScreen();
  check(frame.frameGeometry() ==
            CMainFrame::OuterGeometry(screen.availableGeometry(), screen.virtualGeometry().width()),
        QStringLiteral("window size"));
  check(frame.pane(0) != nullptr && frame.pane(0)->text() == QStringLiteral("Velkorant v1.1a"),
        QStringLiteral("status bar version text"));
  for (int command : {kCommandCheckServer, kCommandExit, kCommandPreferences, kCommandProfiles,
                      kCommandAbout, kCommandEncryptionInfo, kCommandLegalNotice}) {
    check(frame.command(command) != nullptr, QStringLiteral("menu command %1").arg(command));
  }
  check(frame.view() != nullptr && frame.findChild<QPushButton*>(QString::number(kIdReceive)),
        QStringLiteral("the main view and its buttons"));
  check(frame.view() != nullptr &&
            frame.view()->settings().server_name == std::string(kDefaultServerAddress),
        QStringLiteral("settings were not read"));
  check(QGuiApplication::desktopFileName() == QString::fromLatin1(kAppId),
        QStringLiteral("desktop file name \"%1\"").arg(QGuiApplication::desktopFileName()));
  check(!QGuiApplication::windowIcon().isNull(), QStringLiteral("window icon"));
}

// The program started as the user starts it, with every pop-up refused and counted as a failure.
void CheckProgram(const QTemporaryDir& scratch, Checker& check) {
  RefusingRunner runner;
  MSJPRVApp program(&runner);
  const bool started = program.InitInstance();
  check(started, QStringLiteral("the main window was not created"));
  if (started) {
    CheckMainWindow(*program.main_frame(), check);
    program.main_frame()->close();
  }
  // The settings database is where the settings folder says, and takes a write.
  SettingsStore store;
  check(store.WriteInt("Opciones", "EjecPrimVez", 0) &&
            store.ReadInt("Opciones", "EjecPrimVez", 1) == 0 &&
            QFile::exists(
                scratch.filePath(QStringLiteral("config/KRWTN_Software/VLKRNTS/settings.sqlite3"))),
        QStringLiteral("settings database"));
  check(runner.shown.isEmpty(), QStringLiteral("unexpected window: ") + runner.shown.join(u'|'));
}

}  // namespace

int RunSmokeTest(QTextStream& out) {
  QTemporaryDir scratch;
  if (!scratch.isValid() || !QDir(scratch.path()).mkpath(QStringLiteral("work")) ||
      !QDir::setCurrent(scratch.filePath(QStringLiteral("work")))) {
    out << "smoke test: FAILED: no temporary folder" << Qt::endl;
    return 1;
  }
  const QString previous_config = qEnvironmentVariable("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));

  Checker check{out};
  CheckPlatformAndResources(check);
  CheckProgram(scratch, check);

  QDir::setCurrent(QDir::tempPath());
  if (previous_config.isEmpty()) {
    qunsetenv("XDG_CONFIG_HOME");
  } else {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(previous_config));
  }
  if (check.failures > 0)
    return 1;
  out << "velkorant: smoke test passed (Qt " << qVersion() << ", platform "
      << QGuiApplication::platformName() << ")" << Qt::endl;
  return 0;
}

}  // namespace velkorant
