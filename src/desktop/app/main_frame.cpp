// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QStyleFactory>

#include "app/window_geometry.h"
#include "ui/dialog_units.h"
#include "view/flow_runner.h"
#include "view/main_view.h"
#include "view/settings_commands.h"
#include "view/transfer_commands.h"

namespace velkorant {
namespace {

constexpr int kNarrowScreen = 1300;
constexpr int kStatusBarMinimumHeight = 25;

struct PaneSpec {
  int indicator;
  int width;
  const char* initial_text;
};
constexpr std::array<PaneSpec, 3> kPanes = {{
    {61447, 300, "-----"},
    {102, 400, " "},
    {kIdOutcomePane, 600, "-----"},
}};

// "Ayuda" at the right end of the one menu bar, where Alt, the arrows and F10 reach it as they
// reach the others: after a separator that the style does not draw, the bar puts what follows
// at its right end. Alt alone selects the first menu whatever the style.
class MenuBarStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    return hint == SH_DrawMenuBarSeparator || hint == SH_MenuBar_AltKeyNavigation ||
           QProxyStyle::styleHint(hint, option, widget, data);
  }
};

QString CurrentScreenConfiguration() {
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens())
    screens << screen->geometry();
  return ScreenConfiguration(screens);
}

}  // namespace

CMainFrame::CMainFrame(SettingsStore& settings_store, DialogRunner& runner)
    : QMainWindow(nullptr), settings_store_(settings_store), runner_(runner) {}

CMainFrame::~CMainFrame() {
  // The flows' last steps reach the window through its view: they end while both are whole.
  if (view_ != nullptr)
    view_->StopFlows();
}

int CMainFrame::InitialLeft(int virtual_screen_width) {
  return virtual_screen_width < kNarrowScreen ? 1 : 100;
}

QRect CMainFrame::OuterGeometry(const QRect& available, int virtual_screen_width) {
  return BroughtInto(QRect(InitialLeft(virtual_screen_width), kFrameTop, kFrameWidth, kFrameHeight),
                     available);
}

QRect CMainFrame::FreeArea(const QRect& window) {
  const QScreen* screen = QGuiApplication::screenAt(window.center());
  screen = screen != nullptr ? screen : QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : window;
}

bool CMainFrame::RestoreGeometry() {
  const std::optional<WindowPlace> saved = WindowGeometryFile().Read(CurrentScreenConfiguration());
  if (!saved)
    return false;
  // Onto the free area: the same screens may have other panels now. Once the borders are known,
  // the outside is brought onto it (see event()).
  setGeometry(BroughtInto(saved->normal, FreeArea(saved->normal)));
  if (saved->maximized)
    setWindowState(Qt::WindowMaximized);
  return true;
}

void CMainFrame::SaveGeometry() const {
  // Only a preference: a folder that cannot be written keeps the next start at the usual place.
  if (!WindowGeometryFile().Write(CurrentScreenConfiguration(), {normalGeometry(), isMaximized()}))
    qWarning("Velkorant: cannot save the window's place");
}

bool CMainFrame::Create() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  outer_ = screen != nullptr
               ? OuterGeometry(screen->availableGeometry(), screen->virtualGeometry().width())
               : QRect(InitialLeft(kNarrowScreen), kFrameTop, kFrameWidth, kFrameHeight);
  setFont(DialogFont());

  CreateMenu();
  if (!CreateStatusBar())
    return false;

  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setFocusPolicy(Qt::NoFocus);
  view_ = new CMainView(settings_store_, runner_, scroll);
  scroll->setWidget(view_);
  setCentralWidget(scroll);
  // Where the form scrolls, the control that takes the focus (by Tab or a shortcut) comes into
  // sight.
  connect(qApp, &QApplication::focusChanged, scroll, [this, scroll](QWidget*, QWidget* now) {
    if (now != nullptr && view_->isAncestorOf(now))
      scroll->ensureWidgetVisible(now);
  });
  connect(command(kCommandCheckServer), &QAction::triggered, view_, &CMainView::OnCheckServer);
  connect(command(kCommandExit), &QAction::triggered, this, &QWidget::close);
  connect(command(kCommandEncryptionInfo), &QAction::triggered, view_,
          &CMainView::OnShowEncryptionInfo);
  connect(command(kCommandLegalNotice), &QAction::triggered, view_, &CMainView::OnShowLegalNotice);
  connect(command(kCommandPreferences), &QAction::triggered, view_,
          [this] { OnPreferences(view_->commands()); });
  connect(command(kCommandProfiles), &QAction::triggered, view_,
          [this] { OnPasswordProfiles(view_->commands()); });
  for (const auto& [id, run] : {std::pair{kCommandImportWindows, &OnImportWindows},
                                {kCommandExportWindows, &OnExportWindows},
                                {kCommandBackup, &OnBackup},
                                {kCommandRestore, &OnRestore}}) {
    connect(command(id), &QAction::triggered, view_, [this, run] { run(view_->commands()); });
  }
  // The server check and the preferences (whose user name a receive run reads) wait for the
  // server flows; the profiles, like the view's message buttons, do not.
  connect(&view_->flows(), &FlowRunner::busyChanged, this, [this](bool busy) {
    for (const int id : {kCommandCheckServer, kCommandPreferences})
      command(id)->setEnabled(!busy);
  });
  connect(view_, &CMainView::statusPanesChanged, this, &CMainFrame::UpdateStatusPanes);
  view_->OnInitialUpdate(*progress_pane(), *pane(2));
  restored_ = RestoreGeometry();
  if (!restored_) {
    // A window's position is its outside's; its size is its inside's until the borders are
    // known (see event()).
    resize(outer_.size());
    move(outer_.topLeft());
  }
  return true;
}

bool CMainFrame::event(QEvent* event) {
  // The title bar and borders are known once the window is shown, under some X11 window
  // managers only when it has moved into their frame: the inside gives way to them.
  if (fit_to_borders_ && (event->type() == QEvent::Show || event->type() == QEvent::Move)) {
    const QSize borders = frameGeometry().size() - size();
    if (!borders.isNull()) {
      fit_to_borders_ = false;
      const QRect outer =
          restored_ ? BroughtInto(frameGeometry(), FreeArea(frameGeometry())) : outer_;
      if (outer != frameGeometry() && windowState() == Qt::WindowNoState) {
        resize(outer.size() - borders);
        move(outer.topLeft());
      }
    }
  }
  return QMainWindow::event(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Every way out comes here: a flow waiting on the server ends (what it stored is committed)
  // before the program does.
  if (view_ != nullptr)
    view_->StopFlows();
  SaveGeometry();
  QMainWindow::closeEvent(event);
}

QAction* CMainFrame::AddCommand(QMenu& menu, const QString& caption, int id) {
  QAction* action = menu.addAction(caption);
  action->setObjectName(QString::number(id));
  return action;
}

void CMainFrame::CreateMenu() {
  QMenuBar* bar = menuBar();
  // The copy of the program's style that right-aligns "Ayuda" belongs to the bar.
  auto* style = new MenuBarStyle(QStyleFactory::create(QApplication::style()->name()));
  style->setParent(bar);
  bar->setStyle(style);
  QMenu* file = bar->addMenu(QStringLiteral("&Archivo"));
  // The two buttons with a shortcut of their own, where menus show shortcuts.
  AddCommand(*file, QStringLiteral("Recibir mensajes"), kCommandReceive);
  AddCommand(*file, QStringLiteral("Redactar nuevo mensaje"), kCommandCompose);
  AddCommand(*file, QStringLiteral("Comprobar conexión con servidor"), kCommandCheckServer);
  file->addSeparator();
  AddCommand(*file, QStringLiteral("&Importar desde Windows…"), kCommandImportWindows);
  AddCommand(*file, QStringLiteral("&Exportar para Windows…"), kCommandExportWindows);
  AddCommand(*file, QStringLiteral("&Copia de seguridad…"), kCommandBackup);
  AddCommand(*file, QStringLiteral("&Restaurar copia de seguridad…"), kCommandRestore);
  file->addSeparator();
  AddCommand(*file, QStringLiteral("&Salir"), kCommandExit);
  QMenu* options = bar->addMenu(QStringLiteral("&Configuración"));
  AddCommand(*options, QStringLiteral("Preferencias"), kCommandPreferences);
  AddCommand(*options, QStringLiteral("Perfiles de contraseñas"), kCommandProfiles);
  bar->addSeparator();
  QMenu* help = bar->addMenu(QStringLiteral("Ay&uda"));
  AddCommand(*help, QStringLiteral("&Acerca de ..."), kCommandAbout);
  AddCommand(*help, QStringLiteral("Encriptación Punto a Punto"), kCommandEncryptionInfo);
  AddCommand(*help, QStringLiteral("Descargo de responsabilidad"), kCommandLegalNotice);

  // F10 opens the first menu, as on the desktops the program runs on.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, bar,
          [bar, file] { bar->setActiveAction(file->menuAction()); });
}

bool CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  if (bar == nullptr)
    return false;
  bar->setObjectName(QStringLiteral("59393"));
  bar->setSizeGripEnabled(true);
  bar->setMinimumHeight(kStatusBarMinimumHeight);
  // "MS Shell Dlg 2", an 18-pixel cell, medium weight.
  bar->setFont(CellHeightFont(18, 500));
  for (std::size_t i = 0; i < kPanes.size(); ++i) {
    auto* pane = new QLabel(QString::fromLatin1(kPanes[i].initial_text), bar);
    pane->setObjectName(QString::number(kPanes[i].indicator));
    pane->setFixedWidth(kPanes[i].width);
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addWidget(pane);
    panes_[i] = pane;
  }
  // Pane 1 hosts the view's progress bar over its whole area.
  auto* host = new QHBoxLayout(panes_[1]);
  host->setContentsMargins(1, 1, 1, 1);
  return true;
}

QAction* CMainFrame::command(int id) const {
  return findChild<QAction*>(QString::number(id));
}

void CMainFrame::UpdateStatusPanes(const QString& version_text) {
  panes_[0]->setText(version_text);
  panes_[2]->setText(QString());
  statusBar()->repaint();
}

void CMainFrame::BringToFront() {
  if (isMinimized())
    showNormal();
  raise();
  activateWindow();
}

}  // namespace velkorant
