// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the server flows need of the user interface: the terminal, the status envelope, the
// event sounds and message boxes. The desktop program, the CLI and the tests each implement it;
// the flows see nothing else of them. Texts are Windows-1252.

#include <ctime>
#include <string>
#include <string_view>

namespace velkorant {

// Status envelope states.
enum class StatusIcon { kIdle = 1, kNoNewMessages = 2, kNewMessages = 3, kError = 4 };

// Event sounds (wave resources of the desktop program).
enum class EventSound {
  kNewMessages = 200,
  kNoNewMessages = 201,
  kPendingDecrypted = 202,
  kServerCheckOk = 203,
  kServerCheckFailed = 204,
  kDeleteUser = 205,
  kMessageSent = 206,
};

// Message box types and answers, as the program has always used them.
inline constexpr unsigned kBoxOkQuestion = 0x20;     // OK button, question-mark icon
inline constexpr unsigned kBoxYesNoQuestion = 0x24;  // Yes and No, question-mark icon
// Or'ed into a type: the second button is the default, for a question whose Yes cannot be undone.
inline constexpr unsigned kBoxDefaultSecond = 0x100;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// A terminal line holds 199 characters with its time stamp; longer lines are cut there.
inline constexpr std::size_t kTerminalLineLimit = 199;
// "HH:MM:SS - " + text + suffix in local time, cut to the terminal's limit.
std::string FormatTerminalLine(std::string_view text, std::string_view suffix,
                               std::time_t when = std::time(nullptr));

class UiServices;
// Each line of `text` as a terminal line of its own: one terminal line holds 199 characters.
void LogTerminalLines(UiServices& ui, std::string_view text);
// A terminal line that is also the flow's outcome (ShowOutcome).
void LogOutcome(UiServices& ui, std::string_view text);

class UiServices {
 public:
  virtual ~UiServices() = default;

  // One time-stamped terminal line: "HH:MM:SS - " + text + suffix.
  virtual void LogTerminal(std::string_view text, std::string_view suffix = {}) = 0;
  virtual void SetStatusIcon(StatusIcon state) = 0;
  // Plays nothing while sounds are off; never waits for the sound.
  virtual void PlayEventSound(EventSound sound) = 0;
  // Modal; returns kAnswerOk, kAnswerYes or kAnswerNo.
  virtual int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) = 0;
  // Brings the main window to the front (new messages arrived), or asks for attention while
  // the user works in another program.
  virtual void BringToFront() {}
  // The message list's hooks: show every message again before a receive run, and refresh the
  // list after messages were stored.
  virtual void ResetFilters() {}
  virtual void ReloadMessages() {}
  // How many message numbers a receive run has fetched so far: 0 as it starts, then after each.
  virtual void ShowReceiveProgress(int /*fetched*/) {}
  // A flow's last word, in the wording of its terminal line: sent, the messages received, or why
  // it failed. The window shows it in the status bar; the terminal has it already.
  virtual void ShowOutcome(std::string_view /*text*/) {}
  // A password that did not open a received message: the library's reason, written to standard
  // output without a line end unless the program uses standard output for its own lines.
  virtual void ReportDecryptFailure(std::string_view library_text);
};

}  // namespace velkorant
