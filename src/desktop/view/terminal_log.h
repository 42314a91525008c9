// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The terminal: a list box, one time-stamped line per event, newest at the bottom. It is the
// only log and is not saved; its lines can be selected and copied, so that a result or an error
// can be passed on.

#include <QObject>
#include <ctime>
#include <functional>
#include <string_view>

class QListWidget;

namespace velkorant {

class TerminalLog : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<std::time_t()>;

  explicit TerminalLog(QListWidget& list);

  // "HH:MM:SS - " + text + suffix, scrolled into view.
  void Log(std::string_view text, std::string_view suffix = {});
  void Clear();
  // The selected lines, top to bottom, one per line of the clipboard's text.
  void CopySelection();

  void set_clock(Clock clock) { clock_ = std::move(clock); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QListWidget& list_;
  Clock clock_;
};

}  // namespace velkorant
