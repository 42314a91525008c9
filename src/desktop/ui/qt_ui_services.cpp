// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qt_ui_services.h"

#include <QApplication>

#include "ui/dialog_runner.h"
#include "ui/event_sound_player.h"
#include "ui/qt_text.h"

namespace velkorant {

QtUiServices::QtUiServices(ViewHooks& view, DialogRunner& runner, EventSoundPlayer& sounds,
                           const Settings& settings)
    : view_(view), runner_(runner), sounds_(sounds), settings_(settings) {}

void QtUiServices::LogTerminal(std::string_view text, std::string_view suffix) {
  view_.LogTerminal(text, suffix);
}

void QtUiServices::SetStatusIcon(StatusIcon state) {
  view_.SetStatusIcon(static_cast<int>(state));
}

void QtUiServices::PlayEventSound(EventSound sound) {
  if (settings_.play_sounds)
    sounds_.Play(static_cast<int>(sound));
}

int QtUiServices::ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) {
  return runner_.ShowMessageBox(view_.TopWindow(), ToQString(text), ToQString(caption), type);
}

void QtUiServices::BringToFront() {
  QWidget* window = view_.TopWindow();
  if (window == nullptr)
    return;
  // Someone working in another program keeps the focus: the taskbar entry flashes (or the window
  // is marked urgent) until they come back.
  const QWidget* active = QApplication::activeWindow();
  if (active == nullptr || (active != window && !window->isAncestorOf(active))) {
    QApplication::alert(window);
    return;
  }
  if (window->isMinimized())
    window->showNormal();
  window->raise();
  window->activateWindow();
}

void QtUiServices::ResetFilters() {
  view_.ResetFilters();
}

void QtUiServices::ReloadMessages() {
  view_.ReloadMessages();
}

void QtUiServices::ShowReceiveProgress(int fetched) {
  view_.ShowReceiveProgress(fetched);
}

}  // namespace velkorant
