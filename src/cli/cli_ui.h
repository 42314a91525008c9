#pragma once

// The server flows' user interface on a terminal: terminal lines on standard output as the
// desktop program's terminal shows them, message boxes as "caption: text" on standard error.

#include <functional>
#include <optional>

#include "cli/cli.h"
#include "common/ui_services.h"

namespace velkorant::cli {

class CliUi : public UiServices {
 public:
  explicit CliUi(Streams& io) : io_(io) {}

  void LogTerminal(std::string_view text, std::string_view suffix = {}) override;
  void SetStatusIcon(StatusIcon state) override { status_ = state; }
  void PlayEventSound(EventSound sound) override { last_sound_ = sound; }
  // Confirmations are answered No: nothing is done that the user did not ask for.
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) override;
  void ReloadMessages() override {
    if (reload_)
      reload_();
  }

  void set_reload(std::function<void()> reload) { reload_ = std::move(reload); }
  std::optional<StatusIcon> status() const { return status_; }
  std::optional<EventSound> last_sound() const { return last_sound_; }
  int boxes_shown() const { return boxes_shown_; }

 private:
  Streams& io_;
  std::function<void()> reload_;
  std::optional<StatusIcon> status_;
  std::optional<EventSound> last_sound_;
  int boxes_shown_ = 0;
};

}  // namespace velkorant::cli
