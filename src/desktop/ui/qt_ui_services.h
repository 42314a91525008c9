// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server flows' user interface in the desktop program: the main view's terminal, envelope
// and list hooks, the event sounds (only while sounds are on) and message boxes through the
// dialog runner. Texts arrive as Windows-1252 and become Unicode here.

#include <QWidget>

#include "common/ui_services.h"
#include "settings/settings_store.h"

namespace velkorant {

class DialogRunner;
class EventSoundPlayer;

// What the main view offers the flows.
class ViewHooks {
 public:
  virtual ~ViewHooks() = default;
  virtual void LogTerminal(std::string_view text, std::string_view suffix) = 0;
  virtual void SetStatusIcon(int state) = 0;
  virtual void ResetFilters() = 0;
  virtual void ReloadMessages() = 0;
  virtual QWidget* TopWindow() = 0;
  virtual void ShowReceiveProgress(int fetched) = 0;
};

class QtUiServices final : public UiServices {
 public:
  // `settings` is the main view's live copy: the sound option is read at each sound.
  QtUiServices(ViewHooks& view, DialogRunner& runner, EventSoundPlayer& sounds,
               const Settings& settings);

  void LogTerminal(std::string_view text, std::string_view suffix = {}) override;
  void SetStatusIcon(StatusIcon state) override;
  void PlayEventSound(EventSound sound) override;
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) override;
  void BringToFront() override;
  void ResetFilters() override;
  void ReloadMessages() override;
  void ShowReceiveProgress(int fetched) override;

 private:
  ViewHooks& view_;
  DialogRunner& runner_;
  EventSoundPlayer& sounds_;
  const Settings& settings_;
};

}  // namespace velkorant
