// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/msjprv_app.h"

#include <QAction>
#include <QApplication>

#include "app/desktop_identity.h"
#include "app/keyboard_access.h"
#include "app/main_frame.h"
#include "app/tray_icon.h"
#include "dialogs/about_dialogs.h"
#include "settings/settings_store.h"
#include "ui/dialog_runner.h"
#include "ui/pictures.h"

namespace velkorant {
namespace {

DialogRunner& RunnerOrOwn(DialogRunner* runner, std::unique_ptr<DialogRunner>& own) {
  if (runner != nullptr)
    return *runner;
  own = std::make_unique<ModalDialogRunner>();
  return *own;
}

}  // namespace

MSJPRVApp::MSJPRVApp(DialogRunner* runner) : runner_(RunnerOrOwn(runner, own_runner_)) {}

MSJPRVApp::~MSJPRVApp() {
  // The tray icon refers to the frame.
  tray_.reset();
}

bool MSJPRVApp::InitInstance() {
  // The settings live under KRWTN_Software\VLKRNTS of the user's settings database.
  QCoreApplication::setOrganizationName(QStringLiteral("KRWTN_Software"));
  QCoreApplication::setApplicationName(QStringLiteral("VLKRNTS"));
  // Desktops match the windows to the installed launcher and its icon by this name.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
  // Several sizes, so title bars and task switchers stay sharp at any scale.
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QPixmap picture = LoadPicture(u"128", QSize(size, size));
    if (!picture.isNull())
      icon.addPixmap(picture);
  }
  if (!icon.isNull())
    QApplication::setWindowIcon(icon);

  settings_store_ = std::make_unique<SettingsStore>();
  if (!document_.OnNewDocument())
    return false;
  frame_ = std::make_unique<CMainFrame>(*settings_store_, runner_);
  if (!frame_->Create()) {
    frame_.reset();
    return false;
  }
  QObject::connect(frame_->command(kCommandAbout), &QAction::triggered, frame_.get(),
                   [this] { OnAppAbout(); });
  PrepareKeyboardAndAccessibility(*frame_);
  tray_ = std::make_unique<TrayIcon>(*frame_);
  tray_->Show();
  frame_->show();
  return true;
}

void MSJPRVApp::OnAppAbout() {
  CAboutDlg dialog(frame_.get());
  runner_.RunModal(dialog);
}

}  // namespace velkorant
