#include "mailbox/ui_services.h"

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

}  // namespace velkorant
