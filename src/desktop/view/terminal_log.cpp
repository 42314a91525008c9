#include "view/terminal_log.h"

#include <QListWidget>

#include "mailbox/ui_services.h"
#include "ui/qt_text.h"

namespace velkorant {

TerminalLog::TerminalLog(QListWidget& list)
    : list_(list), clock_([] { return std::time(nullptr); }) {}

void TerminalLog::Log(std::string_view text, std::string_view suffix) {
  auto* item = new QListWidgetItem(ToQString(FormatTerminalLine(text, suffix, clock_())), &list_);
  // The new line becomes the top line; at the end the list shows its last full page.
  list_.scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void TerminalLog::Clear() {
  list_.clear();
}

}  // namespace velkorant
