// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A user interface for tests: records every terminal line, box, envelope and sound, and answers
// message boxes OK, or No to questions.

#include <string>
#include <vector>

#include "common/ui_services.h"
#include "platform/ansi_text.h"

namespace velkorant::testing {

struct RecordedBox {
  std::string text;     // UTF-8, for readable assertions
  std::string caption;  // UTF-8
};

class RecordingUi : public UiServices {
 public:
  void LogTerminal(std::string_view text, std::string_view suffix = {}) override {
    lines.push_back(AnsiToUtf8(std::string(text) + std::string(suffix)));
  }
  void SetStatusIcon(StatusIcon state) override { icons.push_back(state); }
  void PlayEventSound(EventSound sound) override { sounds.push_back(sound); }
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) override {
    boxes.push_back({AnsiToUtf8(text), AnsiToUtf8(caption)});
    return (type & ~kBoxDefaultSecond) == kBoxYesNoQuestion ? kAnswerNo : kAnswerOk;
  }
  void BringToFront() override { ++brought_to_front; }
  void ResetFilters() override { ++filters_reset; }
  void ReloadMessages() override { ++reloads; }
  void ReportDecryptFailure(std::string_view) override {}  // wrong passwords are expected

  void Clear() { *this = RecordingUi(); }

  std::vector<std::string> lines;
  std::vector<RecordedBox> boxes;
  std::vector<StatusIcon> icons;
  std::vector<EventSound> sounds;
  int brought_to_front = 0;
  int filters_reset = 0;
  int reloads = 0;
};

}  // namespace velkorant::testing
