#pragma once

// The terminal: list box 1000, one time-stamped line per event, newest at the bottom. It is the
// only log and is not saved.

#include <ctime>
#include <functional>
#include <string_view>

class QListWidget;

namespace velkorant {

class TerminalLog {
 public:
  using Clock = std::function<std::time_t()>;

  explicit TerminalLog(QListWidget& list);

  // "HH:MM:SS - " + text + suffix, scrolled into view.
  void Log(std::string_view text, std::string_view suffix = {});
  void Clear();

  void set_clock(Clock clock) { clock_ = std::move(clock); }

 private:
  QListWidget& list_;
  Clock clock_;
};

}  // namespace velkorant
