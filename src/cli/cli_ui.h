// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server flows' user interface on a terminal: terminal lines on standard output as the
// desktop program's terminal shows them, message boxes as "caption: text" on standard error.

#include <functional>

#include "cli.h"
#include "common/ui_services.h"

namespace velkorant::cli {

class CliUi : public UiServices {
 public:
  explicit CliUi(Streams& io) : io_(io) {}

  void LogTerminal(std::string_view text, std::string_view suffix = {}) override;
  // A terminal has no envelope and no sounds; commands take their exit status from the results.
  void SetStatusIcon(StatusIcon) override {}
  void PlayEventSound(EventSound) override {}
  // Confirmations are answered No: nothing is done that the user did not ask for.
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) override;
  void ReloadMessages() override {
    if (reload_)
      reload_();
  }

  // Standard output carries the terminal lines; wrong passwords are expected while receiving.
  void ReportDecryptFailure(std::string_view) override {}

  void set_reload(std::function<void()> reload) { reload_ = std::move(reload); }

 private:
  Streams& io_;
  std::function<void()> reload_;
};

}  // namespace velkorant::cli
