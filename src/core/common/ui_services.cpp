// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui_services.h"

#include <cstdio>

namespace velkorant {

std::string FormatTerminalLine(std::string_view text, std::string_view suffix, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[16];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  std::string line(stamp, length);
  line.append(" - ").append(text).append(suffix);
  if (line.size() > kTerminalLineLimit)
    line.resize(kTerminalLineLimit);
  return line;
}

void LogTerminalLines(UiServices& ui, std::string_view text) {
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    ui.LogTerminal(text.substr(start, end - start));
    if (end == std::string_view::npos)
      return;
    start = end + 1;
  }
}

void LogOutcome(UiServices& ui, std::string_view text) {
  ui.LogTerminal(text);
  ui.ShowOutcome(text);
}

void UiServices::ReportDecryptFailure(std::string_view library_text) {
  std::fwrite(library_text.data(), 1, library_text.size(), stdout);
}

}  // namespace velkorant
