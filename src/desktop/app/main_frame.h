// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window: the menu bar, the status bar with its three panes, and the main view, which
// follows the window's size down to its minimum and scrolls below it. The window opens where it
// was last closed on the same screens, else at its usual size and place. Menu commands go to the
// view.

#include <QLabel>
#include <QMainWindow>
#include <QRect>
#include <array>

#include "ui/control_ids.h"

class QAction;

namespace velkorant {

class CMainView;
class DialogRunner;
class SettingsStore;

// The window's outer size, title bar and borders included.
inline constexpr int kFrameWidth = 1455;
inline constexpr int kFrameHeight = 823;
inline constexpr int kFrameTop = 100;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  CMainFrame(SettingsStore& settings_store, DialogRunner& runner);
  ~CMainFrame() override;

  // Places the window, builds its menu and status bar, and creates the view with its initial
  // update. False when the status bar could not be made.
  bool Create();

  // Left edge on a virtual screen of this width: screens under 1300 pixels start at 1.
  static int InitialLeft(int virtual_screen_width);
  // The window's outer rectangle at a first start on a screen whose free area (without panels
  // and docks) is `available`: 1455 by 823 at its usual place where that fits; otherwise moved,
  // and cut to the free area where it is larger.
  static QRect OuterGeometry(const QRect& available, int virtual_screen_width);

  CMainView* view() const { return view_; }
  QAction* command(int id) const;
  QLabel* pane(int index) const { return panes_.at(static_cast<std::size_t>(index)); }
  QWidget* progress_pane() const { return panes_[1]; }
  // The panes' update handlers: the version text in pane 0, an empty pane 2.
  void UpdateStatusPanes(const QString& version_text);
  // Shows the window in front with the focus, when the user asks for it (the tray's "Mostrar
  // Velkorant", a later start in the folder). New messages only ask for attention.
  void BringToFront();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateMenu();
  bool CreateStatusBar();
  QAction* AddCommand(QMenu& menu, const QString& caption, int id);
  // The place of the last close on these screens. False when there is none.
  bool RestoreGeometry();
  void SaveGeometry() const;
  // The free area of the screen that holds the window's middle, or else of the first screen.
  static QRect FreeArea(const QRect& window);

  SettingsStore& settings_store_;
  DialogRunner& runner_;
  CMainView* view_ = nullptr;
  std::array<QLabel*, 3> panes_{};
  QRect outer_;
  // The window's outside is set once the borders are known: at a first start to `outer_`, else
  // onto the free area.
  bool fit_to_borders_ = true;
  bool restored_ = false;
};

}  // namespace velkorant
