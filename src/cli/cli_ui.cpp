// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli_ui.h"

#include <ostream>

#include "cli_support.h"
#include "platform/ansi_text.h"

namespace velkorant::cli {

void CliUi::LogTerminal(std::string_view text, std::string_view suffix) {
  io_.out << Printable(AnsiToUtf8(FormatTerminalLine(text, suffix))) << '\n';
  io_.out.flush();
}

int CliUi::ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) {
  io_.err << Printable(AnsiToUtf8(caption)) << ": " << Printable(AnsiToUtf8(text)) << '\n';
  return type == kBoxYesNoQuestion ? kAnswerNo : kAnswerOk;
}

}  // namespace velkorant::cli
