#include "app/main_frame.h"

#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

#include "ui/dialog_units.h"
#include "view/main_view.h"
#include "view/settings_commands.h"

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
    {61448, 600, "-----"},
}};

}  // namespace

CMainFrame::CMainFrame(SettingsStore& settings_store, DialogRunner& runner)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      settings_store_(settings_store),
      runner_(runner) {}

CMainFrame::~CMainFrame() = default;

int CMainFrame::InitialLeft(int virtual_screen_width) {
  return virtual_screen_width < kNarrowScreen ? 1 : 100;
}

bool CMainFrame::Create() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int virtual_width = screen != nullptr ? screen->virtualGeometry().width() : kNarrowScreen;
  setFixedSize(kFrameWidth, kFrameHeight);
  move(InitialLeft(virtual_width), kFrameTop);
  setFont(DialogFont());

  CreateMenu();
  if (!CreateStatusBar())
    return false;

  view_ = new CMainView(settings_store_, runner_, this);
  setCentralWidget(view_);
  connect(command(kCommandCheckServer), &QAction::triggered, view_, &CMainView::OnCheckServer);
  connect(command(kCommandExit), &QAction::triggered, this, &QWidget::close);
  connect(command(kCommandEncryptionInfo), &QAction::triggered, view_,
          &CMainView::OnShowEncryptionInfo);
  connect(command(kCommandLegalNotice), &QAction::triggered, view_, &CMainView::OnShowLegalNotice);
  connect(command(kCommandPreferences), &QAction::triggered, view_,
          [this] { OnPreferences(*view_); });
  connect(command(kCommandProfiles), &QAction::triggered, view_,
          [this] { OnPasswordProfiles(*view_); });
  view_->OnInitialUpdate(*this);
  return true;
}

QAction* CMainFrame::AddCommand(QMenu& menu, const QString& caption, int id) {
  QAction* action = menu.addAction(caption);
  action->setObjectName(QString::number(id));
  return action;
}

void CMainFrame::CreateMenu() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("Archivo"));
  AddCommand(*file, QStringLiteral("Comprobar conexión con servidor"), kCommandCheckServer);
  file->addSeparator();
  AddCommand(*file, QStringLiteral("&Salir"), kCommandExit);
  QMenu* options = bar->addMenu(QStringLiteral("Configuración"));
  AddCommand(*options, QStringLiteral("Preferencias"), kCommandPreferences);
  AddCommand(*options, QStringLiteral("Perfiles de contraseñas"), kCommandProfiles);

  // "Ayuda" sits at the right end of the menu bar.
  auto* right = new QMenuBar(bar);
  right->setObjectName(QStringLiteral("help_menu_bar"));
  QMenu* help = right->addMenu(QStringLiteral("Ayuda"));
  AddCommand(*help, QStringLiteral("&Acerca de ..."), kCommandAbout);
  AddCommand(*help, QStringLiteral("Encriptación Punto a Punto"), kCommandEncryptionInfo);
  AddCommand(*help, QStringLiteral("Descargo de responsabilidad"), kCommandLegalNotice);
  bar->setCornerWidget(right, Qt::TopRightCorner);
}

bool CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  if (bar == nullptr)
    return false;
  bar->setObjectName(QStringLiteral("59393"));
  bar->setSizeGripEnabled(false);
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

}  // namespace velkorant
