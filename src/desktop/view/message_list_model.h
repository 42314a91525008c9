// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The rows of the message list. Each row owns its texts, copied from its record when the rows
// are built; the view asks for every cell when it paints and keeps no text of its own. Row
// colours are decided at paint time from the row's colour (kRowColourRole), so marking a message
// read changes that one value; so are the bold of unread rows and what a screen reader hears.

#include <QAbstractTableModel>
#include <QFont>
#include <QPixmap>
#include <array>
#include <vector>

#include "store/message.h"
#include "store/message_id.h"

namespace velkorant {

enum MessageColumn : int {
  kColumnCode = 0,
  kColumnReplied = 1,
  kColumnSubject = 2,
  kColumnSender = 3,
  kColumnReceiver = 4,
  kColumnDate = 5,
  kMessageColumnCount = 6,
};

// What a row's colours say of its message.
enum class RowColour { kSent, kUndecrypted, kRead, kUnread };
// A row's RowColour, as an int, for any of its cells.
inline constexpr int kRowColourRole = Qt::UserRole;

struct MessageRow {
  MessageId id;
  std::array<QString, kMessageColumnCount> texts;
  int icon = 0;  // image of the list icon strip
  RowColour colour = RowColour::kSent;
};

MessageRow MakeMessageRow(const Message& message);
// What the row's colours and its "R" column say, for those who cannot see them: "no leído",
// "sin desencriptar", "no enviado", "respondido", joined by commas; empty for a read or sent one.
QString RowStates(const MessageRow& row);

// Sort key: column index + 1, negative for descending. Texts compare without regard to case;
// keys outside 1..6 find every pair equal.
int CompareMessageRows(const MessageRow& a, const MessageRow& b, int key);

class MessageListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit MessageListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Replaces every row at once: one reset, one repaint.
  void SetRows(std::vector<MessageRow> rows);
  // Stable, so rows with equal texts keep their order; selections follow their rows.
  void Sort(int key);
  void SetRowColour(int row, RowColour colour);
  // The bold of unread rows, sized by the view so that a full date fits in bold too.
  void SetUnreadFont(const QFont& font) { unread_font_ = font; }

  const MessageRow& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }

  static const std::array<int, kMessageColumnCount>& ColumnWidths();
  // `font`, a little smaller where the widest date would not fit the "Fecha" column with its
  // margins: the column widths are fixed in pixels.
  static QFont FittingDates(const QFont& font);

 private:
  std::vector<MessageRow> rows_;
  QFont unread_font_;
  std::array<QPixmap, 7> icons_;
};

}  // namespace velkorant
