// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/terminal_log.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>

#include "common/ui_services.h"
#include "ui/qt_text.h"

namespace velkorant {

TerminalLog::TerminalLog(QListWidget& list)
    : list_(list), clock_([] { return std::time(nullptr); }) {
  // The list's own Ctrl+C would copy the line under the cursor only.
  list_.installEventFilter(this);
}

void TerminalLog::Log(std::string_view text, std::string_view suffix) {
  auto* item = new QListWidgetItem(ToQString(FormatTerminalLine(text, suffix, clock_())), &list_);
  // The new line becomes the top line; at the end the list shows its last full page.
  list_.scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void TerminalLog::Clear() {
  list_.clear();
}

void TerminalLog::CopySelection() {
  QStringList lines;
  for (int row = 0; row < list_.count(); ++row) {
    if (list_.item(row)->isSelected())
      lines << list_.item(row)->text();
  }
  if (!lines.isEmpty())
    QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

bool TerminalLog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &list_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    CopySelection();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace velkorant
